// The run's Application event on Windows. Clearon.exe carries its message
// file (a resource-only DLL) and writes it out, when it is missing or
// differs, to "<Program Files>\Tessaral\Clearon": the package folder the
// executable runs from is deleted by the deployment system after the run,
// and a source whose message file is gone shows every event as "the
// description cannot be found".
#pragma once

#include "startup/run_event.h"

namespace clearon {

// Writes the message file, registers the source for it and reports the
// event, at the end of the run: an uninstaller may have removed the folder
// or the source meanwhile. A step that fails is one line in the run log (or
// the error log); the event is reported whatever the message file's fate.
void ReportRunEvent(const RunEventFacts& facts) noexcept;

}  // namespace clearon
