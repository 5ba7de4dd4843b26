// Decisions of the start-up sequence that need no Windows: where the
// executable lives, whether Windows is 64-bit, what a run returns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "log/log_format.h"

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

// The log line for a [Settings] string that was refused rather than cut.
[[nodiscard]] std::wstring RefusedSettingLogLine(std::wstring_view key);

}  // namespace clearon
