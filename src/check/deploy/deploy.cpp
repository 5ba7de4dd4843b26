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

RunOutcome NotStartedOutcome(std::uint32_t windowsError, std::wstring_view clearonPath) {
    if (windowsError == kWindowsElevationRequired) {
        return {kCheckNotElevated, OutcomeKind::NoRun,
                L"Clearon.exe requires administrator rights: run deploy elevated"};
    }
    constexpr std::uint32_t kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
    constexpr std::uint32_t kPathNotFound = 3;  // ERROR_PATH_NOT_FOUND
    const std::wstring path(clearonPath);
    return {kCheckClearonNotStarted, OutcomeKind::NoRun,
            windowsError == kFileNotFound || windowsError == kPathNotFound
                ? path + L" is missing: it belongs beside ClearonCheck.exe"
                : L"Clearon.exe could not be started from " + path + L" (Windows error " +
                      std::to_wstring(windowsError) + L")"};
}

std::wstring DeployLine(const RunOutcome& outcome, std::optional<std::uint32_t> clearonExitCode) {
    return OutcomeLine(outcome) + L"; Clearon.exe's own exit code: " +
           (clearonExitCode ? std::to_wstring(*clearonExitCode) : std::wstring(L"none"));
}

std::wstring LogShareFileName(const std::optional<std::wstring>& computerName) {
    return computerName && !computerName->empty()
               ? std::wstring(kLogFilePrefix) + *computerName + std::wstring(kLogFileSuffix)
               : std::wstring(kLogFileWithoutName);
}

}  // namespace clearon::check
