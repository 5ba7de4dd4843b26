#include "check/logs/run_outcome.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "check/cli/check_text.h"
#include "check/logs/run_log_reader.h"
#include "config/config_file.h"
#include "log/log_entries.h"
#include "platform/disk_space.h"
#include "removal/program_list.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

[[nodiscard]] bool IsRefusedFileCode(int code) noexcept {
    return code == kExitConfigMissing || code == kExitConfigBadFormat ||
           code == kExitConfigReadFailed || code == kExitConfigBlank ||
           code == kExitConfigOpenFailed || code == kExitConfigTooLarge;
}

// An exit code as the log writes it ("%d"); nothing when the text is not one.
[[nodiscard]] std::optional<int> ParseExitCode(std::wstring_view text) {
    const std::string narrow = ToUtf8(TrimBlanks(text));
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    if (error != std::errc() || end != narrow.data() + narrow.size() || narrow.empty() ||
        value < INT32_MIN || value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(static_cast<std::uint32_t>(value));
}

[[nodiscard]] RunOutcome Make(int code, OutcomeKind kind, std::wstring text) {
    return {code, kind, std::move(text)};
}

[[nodiscard]] bool HasMessage(const LogRun& run, std::wstring_view message) {
    const std::wstring_view wanted = TrimBlanks(message);
    bool found = false;
    run.messages.ForEach(
        [&](std::wstring_view seen) { found = found || TrimBlanks(seen) == wanted; });
    return found;
}

[[nodiscard]] const ProgramRun* LastInstaller(const LogRun& run) {
    for (auto it = run.programs.rbegin(); it != run.programs.rend(); ++it) {
        if (!it->uninstaller && IsLoggedInstaller(*it)) return &*it;
    }
    return nullptr;
}

[[nodiscard]] RunOutcome ClearonOwn(int code, std::wstring_view why) {
    return Make(code, OutcomeKind::ClearonCode, std::wstring(why));
}

}  // namespace

bool IsLoggedInstaller(const ProgramRun& program) {
    std::wstring_view command = TrimBlanks(program.commandLine);
    std::wstring_view name;
    if (!command.empty() && command.front() == L'"') {
        const std::size_t close = command.find(L'"', 1);
        name = command.substr(1, close == std::wstring_view::npos ? close : close - 1);
    } else {
        name = command.substr(0, command.find(L' '));
    }
    // Clearon logs the full path it found for a name given without a
    // folder; the name is what made the program the installer.
    if (program.namedWithoutFolder) name = name.substr(name.find_last_of(L"\\/") + 1);
    return IsAegiraInstaller(L"RunAfterRemoval", name);
}

RunOutcome MapRunOutcome(const LogRun* run, std::optional<int> clearonExitCode) {
    if (clearonExitCode && IsRefusedFileCode(*clearonExitCode)) {
        return ClearonOwn(*clearonExitCode, L"Clearon refused Clearon.ini");
    }
    if (run == nullptr) {
        if (clearonExitCode && *clearonExitCode != 0 && *clearonExitCode != 1) {
            return ClearonOwn(*clearonExitCode,
                              L"Clearon ended with its own code and logged no run");
        }
        return Make(kOutcomeFatal, OutcomeKind::NoRun,
                    L"no run in the log (is EnableLogging off, or the log unreadable?)");
    }
    // A run the free-space check ended has no stop line; its message says
    // why, also to `result`, which has no exit code to go by.
    if (clearonExitCode == kExitNotEnoughDiskSpace || HasMessage(*run, kMsgNotEnoughDiskSpace)) {
        return ClearonOwn(kExitNotEnoughDiskSpace, L"not enough disk space on the system drive");
    }
    // Nothing ran, and a later run may well start its worker: the retryable
    // code, whether or not the stop line came after it.
    if (clearonExitCode == kExitWorkerNotStarted ||
        HasMessage(*run, WithoutLineEnd(kLogWorkerNotStarted))) {
        return ClearonOwn(kExitWorkerNotStarted,
                          L"the worker thread could not be started: run again later");
    }

    const ProgramRun* installer = LastInstaller(*run);
    std::optional<int> installerCode;
    if (installer != nullptr) {
        if (installer->status == ProgramRun::Status::FailedToLaunch || installer->refused()) {
            return Make(kOutcomeFatal, OutcomeKind::InstallerFailed,
                        L"Aegira's installer could not be started");
        }
        if (installer->status == ProgramRun::Status::Running) {
            return Make(kOutcomeFatal, OutcomeKind::InstallerFailed,
                        L"Aegira's installer has no exit code in the log");
        }
        installerCode = ParseExitCode(installer->exitCode);
    }

    const bool uninstallerBusy = std::any_of(
        run->failedExitCodes.begin(), run->failedExitCodes.end(),
        [](const std::wstring& code) { return ParseExitCode(code) == kOutcomeRetryLater; });
    if (uninstallerBusy || installerCode == kOutcomeRetryLater) {
        return Make(kOutcomeRetryLater, OutcomeKind::RetryLater,
                    L"Windows Installer was busy: run again later");
    }
    if (!run->failed.empty() || !run->interrupted.empty() || clearonExitCode == 1) {
        const std::size_t count = run->failed.size() + run->interrupted.size();
        return Make(kOutcomeProductStayed, OutcomeKind::ProductStayed,
                    std::to_wstring(count) + L" product(s) stayed installed");
    }
    if (installerCode && *installerCode != 0 && *installerCode != kOutcomeRestart &&
        *installerCode != kInstallerRebooting) {
        return Make(*installerCode, OutcomeKind::InstallerFailed,
                    L"Aegira's installer failed with " + installer->exitCode);
    }
    if (installer != nullptr && !installerCode) {
        return Make(kOutcomeFatal, OutcomeKind::InstallerFailed,
                    L"Aegira's installer's exit code cannot be read");
    }
    if (run->restartRequested || installerCode == kOutcomeRestart ||
        installerCode == kInstallerRebooting) {
        return Make(kOutcomeRestart, OutcomeKind::RestartNeeded, L"a restart is needed to finish");
    }
    if (clearonExitCode && *clearonExitCode != 0) {
        return ClearonOwn(*clearonExitCode, L"Clearon ended with its own code");
    }
    if (!run->stopped) {
        return Make(kOutcomeFatal, OutcomeKind::NoRun,
                    L"the run has no stop line: still running, or ended abruptly");
    }
    return Make(kOutcomeDone, OutcomeKind::Done, L"done");
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

std::wstring OutcomeLine(const RunOutcome& outcome) {
    return L"Clearon: " + outcome.text + L" (exit " + std::to_wstring(outcome.exitCode) + L")";
}

}  // namespace clearon::check
