// The program runner: launches one command line and waits for the launched
// program and every process it starts, through any number of generations.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/object_security.h"
#include "removal/launch_result.h"
#include "removal/program_rights.h"

namespace clearon {

// Launches `commandLine` and blocks until its whole process tree has ended,
// then logs the launched program's exit code. Logs the attempt (the command
// as launched), a failed launch, or the refusal of a command longer than 511
// characters. With `redirect32Bit` (the discovery is scanning the 32-bit
// view), the command and the current directory are redirected to
// g_runState.wow64SystemDirectory, and the current directory is exeDirectory
// again afterwards. With a `notice`, each pause between checks is that
// notice (the hidden five-second notice dialog) instead of 20 ms, unless the
// notice answers false. An empty command does nothing at all.
//
// With a `timeLimitMinutes` other than 0, the wait ends when that time has
// passed since the launch: it is logged, the tree is left running (never
// killed: a half-removed product is worse than a slow one) and no exit code
// is returned. Returns whether the program was started and, when its wait
// saw it end, its exit code.
//
// A program named without a folder is launched by the full path found beside
// Clearon.exe or in the system folders, or refused (program_path.h). With
// `rights`, a program that others than administrators can change is refused.
struct RightsPolicy {
    SecurityReader& reader;
    TrustedWriters trusted;
};
using NoticePause = bool (*)() noexcept;
LaunchResult RunProgram(std::wstring_view commandLine, bool redirect32Bit, NoticePause notice,
                        std::uint32_t timeLimitMinutes = 0, const RightsPolicy* rights = nullptr);

}  // namespace clearon
