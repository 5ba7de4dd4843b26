// Decisions of the start-up sequence that need no Windows: where the
// executable lives, whether Windows is 64-bit, what a run returns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/start_mode.h"  // DecideStartMode, MessageSinkFor, kExitNeedsPerson
#include "log/log_format.h"
#include "text/wide_string.h"  // AsDirectoryPath

namespace clearon {

// The module path cut at its last backslash, without that backslash:
// C:\Tools\Clearon.exe gives C:\Tools, C:\Clearon.exe gives C:. A path
// without a backslash gives the empty text. The path is taken whole: a path
// longer than the data model's 255 characters is not cut, since a cut path
// would name another folder and the configuration would be looked for there.
[[nodiscard]] std::wstring ExeDirectoryFromModulePath(std::wstring_view modulePath);

// The exit code of a completed run: 1 when any product stayed, otherwise
// what the last removal run returned.
[[nodiscard]] int ExitCodeOfRun(std::int32_t failureCount, int startResult) noexcept;

inline constexpr std::wstring_view kSystemDriveVariable = L"SystemDrive";

// Whether a person can see this start's windows, and why not. Session 0 is
// where services and SYSTEM's deployment agents run: no person's desktop is
// there, although its window station may call itself visible. A window
// station that cannot say is taken as seen by nobody: a box there could wait
// for ever, while the unattended behaviour never waits.
enum class Visibility { Seen, StationNotVisible, SessionZero, QueryFailed };
[[nodiscard]] Visibility DecideVisibility(std::optional<std::uint32_t> sessionId,
                                          std::optional<bool> stationVisible) noexcept;
// The line that names the case after kLogNobodySees: empty where that line
// says it all (a window station that is not visible) or nobody is unseen.
[[nodiscard]] std::wstring_view VisibilityLogLine(Visibility visibility) noexcept;

// One run at a time on a machine, whatever the session.
inline constexpr wchar_t kRunMutexName[] = L"Global\\Clearon.Run";
// Windows' ERROR_INSTALL_ALREADY_RUNNING: another installation is in
// progress, try again later.
inline constexpr int kExitOtherRunInProgress = 1618;

// The owner of an existing single-instance object, as a string SID: only
// SYSTEM's and the Administrators' objects can be another Clearon's run.
[[nodiscard]] bool IsRunNameOwnerTrusted(std::wstring_view ownerSid) noexcept;

// The log line for a [Settings] string that was refused rather than cut.
[[nodiscard]] std::wstring RefusedSettingLogLine(std::wstring_view key);

}  // namespace clearon
