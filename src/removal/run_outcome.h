// What one Clearon run amounts to for a deployment system: an exit code that
// Intune, Configuration Manager and Group Policy understand, a word for
// scripts and one line for a person. Clearon decides it from its own state at
// the end of its run (for the ClearonLastRun key), ClearonCheck from the
// run's log (`result`, `deploy`): both gather the same facts and hand them to
// the one decision below, so the two can never tell a run differently.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "log/log_texts.h"  // kExitWorkerNotStarted

namespace clearon {

struct RemovalState;

inline constexpr int kOutcomeDone = 0;
inline constexpr int kOutcomeProductStayed = 1;
inline constexpr int kOutcomeFatal = 1603;       // Windows Installer's "fatal error"
inline constexpr int kOutcomeRetryLater = 1618;  // Windows Installer was busy
inline constexpr int kOutcomeTimedOut = 1460;    // ERROR_TIMEOUT: Clearon outlived the limit
inline constexpr int kOutcomeRestart = 3010;     // a restart is needed to finish
// The installer started a restart itself: passed on as it is, so that the
// deployment system knows the machine is already going down.
inline constexpr int kInstallerRebooting = 1641;
// No run to judge: ClearonCheck's own code, from its private range
// (check/cli/check_codes.h names it kCheckNoRun and checks that they agree).
inline constexpr int kOutcomeNoRun = 60004;

enum class OutcomeKind {
    Done,
    RestartNeeded,
    RetryLater,
    ProductStayed,
    InstallerFailed,  // Aegira's installer did not start, or ended with a failure
    ClearonCode,      // Clearon's own exit code (refused file, disk space, ...)
    NoRun,            // no run to judge (only ClearonCheck meets one)
    TimedOut,         // Clearon outlived deploy's time limit (only ClearonCheck meets one)
};

struct RunOutcome {
    int exitCode = kOutcomeDone;
    OutcomeKind kind = OutcomeKind::Done;
    std::wstring text;  // one line for a person: what happened and why
};

// Aegira's installer, as far as the run shows it.
enum class InstallerFact {
    None,        // not run (none configured, or not recognised as the installer)
    NotStarted,  // refused, or Windows could not start it
    NoExitCode,  // started, but no exit code is known (left running, or the log ends)
    Exited,      // ended with `installerExitCode`
    Unreadable,  // the log holds an exit code that is no number
};

// The facts of one run, from Clearon's state or from its log.
struct RunFacts {
    bool ran = true;  // false: the log holds no run at all
    // Clearon.exe's own exit code, when known (Clearon itself, deploy).
    std::optional<int> clearonExitCode;
    bool configRefused = false;     // Clearon refused Clearon.ini (its code says which way)
    bool diskSpaceTooLow = false;   // the free-space check ended the run (112)
    bool workerNotStarted = false;  // the worker thread could not be created (155)
    InstallerFact installer = InstallerFact::None;
    int installerExitCode = 0;       // when Exited
    std::wstring installerExitText;  // ...as the log writes it
    // A product that stayed had its uninstaller answer 1618 last: Windows
    // Installer was busy, and a later run may well remove it.
    bool windowsInstallerBusy = false;
    std::size_t productsStayed = 0;  // failed, or being removed when the log ends
    bool restartRegistered = false;  // Clearon registered its resume after a restart
    bool stopped = true;             // the run reached its end (the log's stop line)
};

// The one decision. When several apply: Clearon's refused file, then no run,
// too little disk space, no worker, an installer that did not start or has
// no exit code, a busy Windows Installer, products that stayed, the
// installer's failure, a restart (the installer's own 1641 first), Clearon's
// own code, a run without its end.
[[nodiscard]] RunOutcome DecideRunOutcome(const RunFacts& facts);

// The facts of this process's own run at its end: what its removal state
// remembers, and the exit code the process is about to return. A run that
// got this far reached its end.
[[nodiscard]] RunFacts FactsOfOwnRun(const RemovalState& state, int exitCode);

// "done", "restart-needed", ...: the kind as it stands in JSON and in the
// ClearonLastRun key.
[[nodiscard]] std::string_view OutcomeKindName(OutcomeKind kind) noexcept;
// The same word as UTF-16, for the registry and the event log.
[[nodiscard]] std::wstring OutcomeKindWord(OutcomeKind kind);

}  // namespace clearon
