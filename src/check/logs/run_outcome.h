// What a deployment system should make of one Clearon run: the run as its
// log tells it (and, for the launcher, Clearon's own exit code) mapped to the
// exit codes that Intune, Configuration Manager and Group Policy understand.
// Only the log decides: the registry alone cannot tell a restart that is
// needed from an installer that never ran.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "check/logs/log_report.h"

namespace clearon::check {

inline constexpr int kOutcomeDone = 0;
inline constexpr int kOutcomeProductStayed = 1;
inline constexpr int kOutcomeFatal = 1603;        // Windows Installer's "fatal error"
inline constexpr int kOutcomeRetryLater = 1618;   // Windows Installer was busy
inline constexpr int kOutcomeTimedOut = 1460;     // ERROR_TIMEOUT: Clearon outlived the limit
inline constexpr int kOutcomeRestart = 3010;      // a restart is needed to finish
inline constexpr int kInstallerRebooting = 1641;  // the installer started a restart itself

enum class OutcomeKind {
    Done,
    RestartNeeded,
    RetryLater,
    ProductStayed,
    InstallerFailed,  // Aegira's installer did not start, or ended with a failure
    ClearonCode,      // Clearon's own exit code (refused file, disk space, ...)
    NoRun,            // the log holds no run to judge
    TimedOut,
};

struct RunOutcome {
    int exitCode = kOutcomeDone;
    OutcomeKind kind = OutcomeKind::Done;
    std::wstring text;  // one line for a person: what happened and why
};

// Aegira's installer in a logged command line: Clearon runs an after-removal
// command as the installer when it names a setup program without any folder;
// in the log Clearon's own arguments follow it, so only the program is
// looked at.
[[nodiscard]] bool IsLoggedInstaller(const ProgramRun& program);

// Maps one run. `run` is nothing when the log held no run (the launcher:
// nothing was appended). `clearonExitCode` is Clearon.exe's own exit code
// when the caller saw it end (the launcher); `result` on a log file has only
// the log.
[[nodiscard]] RunOutcome MapRunOutcome(const LogRun* run, std::optional<int> clearonExitCode);

// "done", "restart-needed", ...: the kind as it stands in JSON.
[[nodiscard]] std::string_view OutcomeKindName(OutcomeKind kind) noexcept;

// "Clearon: <text> (exit <code>)"
[[nodiscard]] std::wstring OutcomeLine(const RunOutcome& outcome);

}  // namespace clearon::check
