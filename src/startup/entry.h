// The start-up sequence of Clearon, called by the process entry (main.cpp).
#pragma once

#include <windows.h>

namespace clearon {

// Runs one start of the tool: records where it lives and what machine it is
// on, loads the configuration and the settings, opens the log, checks the
// free space, runs the removal, and returns the process exit code.
// `arguments` is the command line after the program name (may be null).
[[nodiscard]] int RunClearon(HINSTANCE instance, const wchar_t* arguments);

}  // namespace clearon
