// Decisions of the start-up sequence that need no Windows: where the
// executable lives, whether Windows is 64-bit, what a run returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace clearon {

// The module path cut at its last backslash, without that backslash:
// C:\Tools\Clearon.exe gives C:\Tools, C:\Clearon.exe gives C:. A path
// without a backslash gives the empty text. The path is taken whole: a path
// longer than the data model's 255 characters is not cut, since a cut path
// would name another folder and the configuration would be looked for there.
[[nodiscard]] std::wstring ExeDirectoryFromModulePath(std::wstring_view modulePath);

// The form of a directory to hand to SetCurrentDirectoryW or a free-space
// query: a bare drive "C:" becomes "C:\". On its own, "C:" means the current
// folder of drive C, which is not where an executable at C:\Clearon.exe lies.
[[nodiscard]] std::wstring AsDirectoryPath(std::wstring_view directory);

// The exit code of a completed run: 1 when any product stayed, otherwise
// what the last removal run returned.
[[nodiscard]] int ExitCodeOfRun(std::int32_t failureCount, int startResult) noexcept;

inline constexpr std::wstring_view kSystemDriveVariable = L"SystemDrive";

// The log line for a [Settings] string that was refused rather than cut.
[[nodiscard]] std::wstring RefusedSettingLogLine(std::wstring_view key);

}  // namespace clearon
