// The program runner: launches one command line and waits for the launched
// program and every process it starts, through any number of generations.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace clearon {

// Launches `commandLine` and blocks until its whole process tree has ended,
// then logs the launched program's exit code. Logs the attempt (the command
// as launched), a failed launch, or the refusal of a command longer than 511
// characters. While g_runState.scanning32BitView is set, the command and the
// current directory are redirected to the 32-bit system directory, and the
// current directory is exeDirectory again afterwards. With `showNotice`, each
// pause between checks is the hidden five-second notice dialog instead of
// 20 ms. An empty command does nothing at all.
//
// With a `timeLimitMinutes` other than 0, the wait ends when that time has
// passed since the launch: it is logged, the tree is left running (never
// killed: a half-removed product is worse than a slow one) and nothing is
// returned. Otherwise returns the launched program's exit code; nothing when
// it was not launched.
std::optional<std::uint32_t> RunProgram(std::wstring_view commandLine, bool showNotice,
                                        std::uint32_t timeLimitMinutes = 0);

inline constexpr std::wstring_view kLogTimeLimitPassed = L" Stopped waiting: ProgramTimeLimit of ";
inline constexpr std::wstring_view kLogTimeLimitLeftRunning =
    L" minutes passed; the program is left running.\r\n";

}  // namespace clearon
