// How a start goes on, by its settings and by whether anybody can see its
// windows. Clearon's start-up acts on these rules, and ClearonCheck's lint
// tells an administrator from them what an unattended run will do.
#pragma once

#include "log/log_format.h"

namespace clearon {

// A start that needs a person at a screen where none can be shown ends with
// Windows' ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION.
inline constexpr int kExitNeedsPerson = 1459;

// How a start with its settings goes on, given whether anybody can see a
// window on this window station. A person at the screen sees exactly what
// the settings ask for; where nobody can, a dialog that would start on its
// own is left out and the run goes ahead silently, and a dialog that waits
// for Start is refused, since nobody would ever press it.
enum class StartMode { Dialog, Silent, SilentNobodySees, NeedsPerson };
[[nodiscard]] StartMode DecideStartMode(bool showGui, bool autoRun, bool personCanSee) noexcept;

// Where ReportMessage sends its texts: standard output in a silent run, a
// box where a person can see it, the log alone where nobody can.
[[nodiscard]] MessageSink MessageSinkFor(bool silent, bool personCanSee) noexcept;

}  // namespace clearon
