#include "check/logs/run_outcome.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "check/cli/check_codes.h"
#include "check/cli/check_text.h"
#include "check/logs/run_log_reader.h"
#include "config/config_file.h"
#include "log/log_entries.h"
#include "platform/disk_space.h"
#include "removal/program_list.h"
#include "text/wide_string.h"

namespace clearon::check {

static_assert(kOutcomeNoRun == kCheckNoRun, "no run to judge ends with ClearonCheck's own code");

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

RunFacts FactsOfLoggedRun(const LogRun* run, std::optional<int> clearonExitCode) {
    RunFacts facts;
    facts.clearonExitCode = clearonExitCode;
    facts.configRefused = clearonExitCode && IsRefusedFileCode(*clearonExitCode);
    facts.ran = run != nullptr;
    if (run == nullptr) return facts;
    facts.diskSpaceTooLow =
        clearonExitCode == kExitNotEnoughDiskSpace || HasMessage(*run, kMsgNotEnoughDiskSpace);
    facts.workerNotStarted = clearonExitCode == kExitWorkerNotStarted ||
                             HasMessage(*run, WithoutLineEnd(kLogWorkerNotStarted));
    if (const ProgramRun* installer = LastInstaller(*run)) {
        if (installer->status == ProgramRun::Status::FailedToLaunch || installer->refused()) {
            facts.installer = InstallerFact::NotStarted;
        } else if (installer->status == ProgramRun::Status::Running) {
            facts.installer = InstallerFact::NoExitCode;
        } else if (const std::optional<int> code = ParseExitCode(installer->exitCode)) {
            facts.installer = InstallerFact::Exited;
            facts.installerExitCode = *code;
            facts.installerExitText = installer->exitCode;
        } else {
            facts.installer = InstallerFact::Unreadable;
        }
    }
    facts.windowsInstallerBusy = std::any_of(
        run->failedExitCodes.begin(), run->failedExitCodes.end(),
        [](const std::wstring& code) { return ParseExitCode(code) == kOutcomeRetryLater; });
    facts.productsStayed = run->failed.size() + run->interrupted.size();
    facts.restartRegistered = run->restartRequested;
    facts.stopped = run->stopped;
    return facts;
}

RunOutcome MapRunOutcome(const LogRun* run, std::optional<int> clearonExitCode) {
    return DecideRunOutcome(FactsOfLoggedRun(run, clearonExitCode));
}

std::wstring OutcomeLine(const RunOutcome& outcome) {
    return L"Clearon: " + outcome.text + L" (exit " + std::to_wstring(outcome.exitCode) + L")";
}

}  // namespace clearon::check
