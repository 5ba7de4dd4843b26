#include "check/deploy/deploy.h"

#include "config/settings.h"

namespace clearon::check {

std::wstring RunLogPathFor(
    std::wstring_view configText, std::wstring_view exeDirectory,
    const std::optional<std::wstring>& computerName,
    const std::function<std::optional<std::wstring>(std::wstring_view name)>& environment) {
    const std::wstring directory = LogDirectoryFromSetting(GetSectionValue(configText, kKeyLogPath),
                                                           exeDirectory, environment);
    return ComposeLogFilePath(directory, computerName);
}

std::span<const std::uint8_t> AppendedBytes(std::span<const std::uint8_t> log,
                                            std::uint64_t sizeBefore) noexcept {
    if (sizeBefore > log.size()) return log;
    return log.subspan(static_cast<std::size_t>(sizeBefore));
}

RunOutcome DeployOutcome(std::wstring_view logName, std::span<const std::uint8_t> appended,
                         int clearonExitCode, LogFileReport& report) {
    report = ReadRunLog(logName, appended);
    const LogRun* run = report.runs.empty() ? nullptr : &report.runs.back();
    return MapRunOutcome(run, clearonExitCode);
}

RunOutcome TimedOutOutcome(std::uint32_t limitMs) {
    return {kOutcomeTimedOut, OutcomeKind::TimedOut,
            L"Clearon still runs after the time limit of " + std::to_wstring(limitMs / 1000) +
                L" s; it is left running"};
}

std::wstring LogShareFileName(const std::optional<std::wstring>& computerName) {
    return computerName && !computerName->empty()
               ? std::wstring(kLogFilePrefix) + *computerName + std::wstring(kLogFileSuffix)
               : std::wstring(kLogFileWithoutName);
}

}  // namespace clearon::check
