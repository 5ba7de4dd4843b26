#include "removal/run_outcome.h"

#include <utility>

#include "platform/disk_space.h"
#include "removal/command_line.h"  // FormatExitCode
#include "removal/removal_state.h"

namespace clearon {
namespace {

[[nodiscard]] RunOutcome Make(int code, OutcomeKind kind, std::wstring text) {
    return {code, kind, std::move(text)};
}

[[nodiscard]] RunOutcome ClearonOwn(int code, std::wstring_view why) {
    return Make(code, OutcomeKind::ClearonCode, std::wstring(why));
}

}  // namespace

RunOutcome DecideRunOutcome(const RunFacts& facts) {
    const std::optional<int> code = facts.clearonExitCode;
    if (facts.configRefused && code) return ClearonOwn(*code, L"Clearon refused Clearon.ini");
    if (!facts.ran) {
        if (code && *code != 0 && *code != 1) {
            return ClearonOwn(*code, L"Clearon ended with its own code and logged no run");
        }
        return Make(kOutcomeNoRun, OutcomeKind::NoRun,
                    L"no run in the log (is EnableLogging off, or the log unreadable?)");
    }
    // A run the free-space check ended has no stop line; its message says
    // why, also to `result`, which has no exit code to go by.
    if (facts.diskSpaceTooLow) {
        return ClearonOwn(kExitNotEnoughDiskSpace, L"not enough disk space on the system drive");
    }
    // Nothing ran, and a later run may well start its worker: the retryable
    // code, whether or not the stop line came after it.
    if (facts.workerNotStarted) {
        return ClearonOwn(kExitWorkerNotStarted,
                          L"the worker thread could not be started: run again later");
    }
    switch (facts.installer) {
        case InstallerFact::NotStarted:
            return Make(kOutcomeFatal, OutcomeKind::InstallerFailed,
                        L"Aegira's installer could not be started");
        case InstallerFact::NoExitCode:
            return Make(kOutcomeFatal, OutcomeKind::InstallerFailed,
                        L"Aegira's installer has no exit code in the log");
        case InstallerFact::None:
        case InstallerFact::Exited:
        case InstallerFact::Unreadable:
            break;
    }
    const bool exited = facts.installer == InstallerFact::Exited;
    const int installerCode = facts.installerExitCode;
    if (facts.windowsInstallerBusy || (exited && installerCode == kOutcomeRetryLater)) {
        return Make(kOutcomeRetryLater, OutcomeKind::RetryLater,
                    L"Windows Installer was busy: run again later");
    }
    if (facts.productsStayed > 0 || code == kOutcomeProductStayed) {
        return Make(kOutcomeProductStayed, OutcomeKind::ProductStayed,
                    std::to_wstring(facts.productsStayed) + L" product(s) stayed installed");
    }
    if (exited && installerCode != 0 && installerCode != kOutcomeRestart &&
        installerCode != kInstallerRebooting) {
        return Make(installerCode, OutcomeKind::InstallerFailed,
                    L"Aegira's installer failed with " + facts.installerExitText);
    }
    if (facts.installer == InstallerFact::Unreadable) {
        return Make(kOutcomeFatal, OutcomeKind::InstallerFailed,
                    L"Aegira's installer's exit code cannot be read");
    }
    // The installer's own restart is under way: the deployment system must
    // hear 1641, not that one is still needed.
    if (exited && installerCode == kInstallerRebooting) {
        return Make(kInstallerRebooting, OutcomeKind::RestartNeeded,
                    L"a restart is needed to finish");
    }
    if (facts.restartRegistered || (exited && installerCode == kOutcomeRestart)) {
        return Make(kOutcomeRestart, OutcomeKind::RestartNeeded, L"a restart is needed to finish");
    }
    if (code && *code != 0) return ClearonOwn(*code, L"Clearon ended with its own code");
    if (!facts.stopped) {
        return Make(kOutcomeNoRun, OutcomeKind::NoRun,
                    L"the run has no stop line: still running, or ended abruptly");
    }
    return Make(kOutcomeDone, OutcomeKind::Done, L"done");
}

RunFacts FactsOfOwnRun(const RemovalState& state, int exitCode) {
    RunFacts facts;
    facts.clearonExitCode = exitCode;
    facts.diskSpaceTooLow = exitCode == kExitNotEnoughDiskSpace;
    facts.workerNotStarted = exitCode == kExitWorkerNotStarted;
    facts.installer = state.installer;
    if (state.installer == InstallerFact::Exited) {
        facts.installerExitCode = static_cast<int>(state.installerExitCode);
        facts.installerExitText = FormatExitCode(state.installerExitCode);
    }
    for (const FailedEntry& entry : state.failedEntries) {
        facts.windowsInstallerBusy = facts.windowsInstallerBusy || entry.installerBusy;
    }
    facts.productsStayed =
        state.failureCount > 0 ? static_cast<std::size_t>(state.failureCount) : 0;
    facts.restartRegistered = state.resumeRegistered;
    return facts;
}

std::wstring OutcomeKindWord(OutcomeKind kind) {
    const std::string_view word = OutcomeKindName(kind);  // ASCII
    return {word.begin(), word.end()};
}

std::string_view OutcomeKindName(OutcomeKind kind) noexcept {
    switch (kind) {
        case OutcomeKind::Done:
            return "done";
        case OutcomeKind::RestartNeeded:
            return "restart-needed";
        case OutcomeKind::RetryLater:
            return "retry-later";
        case OutcomeKind::ProductStayed:
            return "product-stayed";
        case OutcomeKind::InstallerFailed:
            return "installer-failed";
        case OutcomeKind::ClearonCode:
            return "clearon-code";
        case OutcomeKind::NoRun:
            return "no-run";
        case OutcomeKind::TimedOut:
            return "timed-out";
    }
    return "unknown";
}

}  // namespace clearon
