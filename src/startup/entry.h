// The start-up sequence of Clearon, called by the process entry (main.cpp).
#pragma once

#include <windows.h>

namespace clearon {

// Runs one start of the tool: records where it lives and what machine it is
// on, loads the configuration and the settings, opens the log, checks the
// free space, runs the removal, and returns the process exit code.
// `arguments` is the command line after the program name (may be null).
[[nodiscard]] int RunClearon(HINSTANCE instance, const wchar_t* arguments);

// For the process entry, when an exception escaped RunClearon: the line that
// says so, in the run log (the error log when there is none or logging is
// off). The process then ends with kExitUnexpectedError.
void LogUnexpectedEnd() noexcept;

}  // namespace clearon
