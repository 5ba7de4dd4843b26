// The program runner: launches one command line and waits for the launched
// program and every process it starts, through any number of generations.
#pragma once

#include <string_view>

namespace clearon {

// Launches `commandLine` and blocks until its whole process tree has ended,
// then logs the launched program's exit code. Logs the attempt (the command
// as launched), a failed launch, or the refusal of a command longer than 511
// characters. While g_runState.scanning32BitView is set, the command and the
// current directory are redirected to the 32-bit system directory, and the
// current directory is exeDirectory again afterwards. With `showNotice`, each
// pause between checks is the hidden five-second notice dialog instead of
// 20 ms. An empty command does nothing at all. There is no time limit.
// Returns true when the program was started (whatever its exit code).
bool RunProgram(std::wstring_view commandLine, bool showNotice);

}  // namespace clearon
