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
inline constexpr std::wstring_view kLogSessionZero =
    L" This start runs in session 0, where no person's desktop is, whatever its window station "
    L"reports.\r\n";
inline constexpr std::wstring_view kLogVisibilityUnknown =
    L" Whether anybody can see this window station could not be read; nobody is assumed to.\r\n";

inline constexpr std::wstring_view kLogNobodySees =
    L" Nobody can see a window on this window station: boxes are logged instead of shown, and "
    L"the removal question takes its default answer.\r\n";
inline constexpr std::wstring_view kLogRunsWithoutDialog =
    L" The dialog is left out, since nobody can see it; AutoRunAfterUILoads=Y, so the run goes "
    L"ahead silently.\r\n";
inline constexpr std::wstring_view kLogNeedsPerson =
    L" ShowGUI=Y without AutoRunAfterUILoads=Y needs a person to press Start, and nobody can see "
    L"the dialog; nothing was done (exit code 1459).\r\n";
inline constexpr std::wstring_view kLogDialogNotCreated =
    L" The dialog could not be created (error ";
inline constexpr std::wstring_view kLogDialogRunsSilently =
    L"); AutoRunAfterUILoads=Y, so the run goes ahead without it.\r\n";
inline constexpr std::wstring_view kLogDialogNeedsPerson =
    L"); nothing can press Start, so nothing was done (exit code 1459).\r\n";
// One run at a time on a machine, whatever the session.
inline constexpr wchar_t kRunMutexName[] = L"Global\\Clearon.Run";
inline constexpr std::wstring_view kLogWaitingForOther =
    L" Another Clearon is running on this machine; this one waits for it to end.\r\n";
inline constexpr std::wstring_view kLogWaitedForOther =
    L" This run waited for another Clearon to end before it began.\r\n";
// Logged before the wait when the name belongs to neither SYSTEM nor the
// Administrators: an ordinary user made it first. The wait and its limit
// stay the same.
inline constexpr std::wstring_view kLogRunNameHeldBySomeoneElse =
    L" Global\\Clearon.Run is held by someone else: its owner is neither SYSTEM nor the "
    L"Administrators.\r\n";
// When OtherRunTimeLimit passes: the limit in minutes goes between the two.
inline constexpr std::wstring_view kLogOtherRunTimeLimitPassed =
    L" Another Clearon still runs after OtherRunTimeLimit=";
inline constexpr std::wstring_view kLogOtherRunTimeLimitEnd =
    L" minutes; this start ends with 1618 (retry later), having changed nothing.\r\n";
// Windows' ERROR_INSTALL_ALREADY_RUNNING: another installation is in
// progress, try again later.
inline constexpr int kExitOtherRunInProgress = 1618;

// The owner of an existing single-instance object, as a string SID: only
// SYSTEM's and the Administrators' objects can be another Clearon's run.
[[nodiscard]] bool IsRunNameOwnerTrusted(std::wstring_view ownerSid) noexcept;

// The log line for a [Settings] string that was refused rather than cut.
[[nodiscard]] std::wstring RefusedSettingLogLine(std::wstring_view key);

}  // namespace clearon
