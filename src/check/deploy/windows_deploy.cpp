// The Windows part of ClearonCheck deploy: files, the process and the copy
// to the log share. Every decision is in deploy.cpp and run_outcome.cpp.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "check/cli/check_json.h"
#include "check/deploy/deploy.h"
#include "config/config_file.h"
#include "platform/handles.h"
#include "platform/platform_info.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;

constexpr std::wstring_view kClearonExe = L"Clearon.exe";

[[nodiscard]] std::uint64_t SizeOrZero(const std::wstring& path) {
    std::error_code error;
    const std::uint64_t size = fs::file_size(path, error);
    return error ? 0 : size;
}

[[nodiscard]] std::vector<std::uint8_t> ReadAll(const std::wstring& path) {
    std::ifstream file{fs::path(path), std::ios::binary};
    if (!file) return {};
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// `clearonExitCode`: nothing when Clearon.exe never ended (not started, or
// still running at the time limit).
int Answer(const DeployRequest& request, const std::wstring& logPath, const LogRun* run,
           const RunOutcome& outcome, std::optional<std::uint32_t> clearonExitCode,
           std::wstring& out) {
    out += request.json ? DeployJson(logPath, run, outcome, clearonExitCode)
                        : DeployLine(outcome, clearonExitCode) + L"\n";
    return outcome.exitCode;
}

}  // namespace

// Progress goes to `err` as it happens: a deployment agent that kills this
// process at its own limit keeps a log that shows how far the run got.
int DeployOnThisMachine(const DeployRequest& request, std::wstring& out, TextSink& err) {
    const std::wstring module = ModulePath();
    const std::wstring folder = module.substr(0, module.find_last_of(L'\\'));
    const std::wstring iniPath = folder + L"\\" + std::wstring(kConfigFileName);
    const auto environment = [](std::wstring_view name) { return EnvironmentVariable(name); };

    // Pre-flight: a file Clearon refuses would make it show a box, which
    // nobody sees as SYSTEM; end with Clearon's own code instead.
    std::wstring text;
    LintResult lint;
    LintOptions options{environment, L"this computer's environment"};
    if (const int refused = LoadConfigLikeClearon(iniPath, text, lint, options); refused != 0) {
        err += L"ClearonCheck deploy: Clearon would refuse " + iniPath + L" (exit " +
               std::to_wstring(refused) + L"): " + lint.refusal + L"\n";
        return Answer(request, L"", nullptr,
                      {refused, OutcomeKind::ClearonCode, L"Clearon.ini refused: " + lint.refusal},
                      std::nullopt, out);
    }

    const std::optional<std::wstring> computer = ComputerName();
    const std::wstring logPath = RunLogPathFor(text, folder, computer, environment);
    if (!lint.settings.EnableLogging || logPath.empty()) {
        err +=
            L"ClearonCheck deploy: Clearon writes no run log with this Clearon.ini "
            L"(EnableLogging=N, or LogPath too long): its run cannot be judged\n";
    }
    const std::uint64_t sizeBefore = logPath.empty() ? 0 : SizeOrZero(logPath);

    const std::wstring clearon = folder + L"\\" + std::wstring(kClearonExe);
    std::wstring commandLine = L"\"" + clearon + L"\"";
    if (!request.clearonArguments.empty()) commandLine += L" " + request.clearonArguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const BOOL started =
        CreateProcessW(clearon.c_str(), commandLine.data(), nullptr,
                       nullptr,         // default security for the process and thread
                       FALSE,           // inherit nothing: Clearon gets no console handles of ours
                       0, nullptr,      // no flags; our environment
                       folder.c_str(),  // Clearon's folder, as when started from the package
                       &startup, &info);
    if (!started) {
        const RunOutcome outcome = NotStartedOutcome(GetLastError(), clearon);
        err += L"ClearonCheck deploy: " + outcome.text + L"\n";
        return Answer(request, logPath, nullptr, outcome, std::nullopt, out);
    }
    UniqueProcessInformation process;
    process.Adopt(info);
    err += L"ClearonCheck deploy: started " + commandLine + L" (process " +
           std::to_wstring(info.dwProcessId) + L"); waiting at most " +
           std::to_wstring(request.timeLimitMs / 1000) + L" s for it to end\n";

    if (WaitForSingleObject(process.process.get(), request.timeLimitMs) != WAIT_OBJECT_0) {
        const RunOutcome outcome = TimedOutOutcome(request.timeLimitMs);
        err += L"ClearonCheck deploy: " + outcome.text + L"\n";
        return Answer(request, logPath, nullptr, outcome, std::nullopt, out);
    }
    // Clearon's code is only judged with its log; one that cannot be read
    // (never seen) is judged as a fatal end and shown as none.
    DWORD exitCode = 0;
    std::optional<std::uint32_t> clearonExitCode;
    if (GetExitCodeProcess(process.process.get(), &exitCode)) {
        clearonExitCode = exitCode;
        err += L"ClearonCheck deploy: Clearon.exe ended with " + std::to_wstring(exitCode) + L"\n";
    } else {
        exitCode = kOutcomeFatal;
    }

    LogFileReport report;
    const std::vector<std::uint8_t> log =
        logPath.empty() ? std::vector<std::uint8_t>{} : ReadAll(logPath);
    const RunOutcome outcome =
        DeployOutcome(fs::path(logPath).filename().wstring(), AppendedBytes(log, sizeBefore),
                      static_cast<int>(exitCode), report);
    if (outcome.kind == OutcomeKind::NoRun) {
        err += L"ClearonCheck deploy: " + outcome.text + L" (Clearon ended with " +
               std::to_wstring(static_cast<int>(exitCode)) + L", log " + logPath + L")\n";
    }

    if (!request.logShare.empty() && !log.empty()) {
        const std::wstring target = request.logShare + L"\\" + LogShareFileName(computer);
        if (CopyFileW(logPath.c_str(), target.c_str(), FALSE /* replace the older copy */)) {
            err += L"ClearonCheck deploy: copied the log to " + target + L"\n";
        } else {
            err += L"ClearonCheck deploy: cannot copy the log to " + target + L" (Windows error " +
                   std::to_wstring(GetLastError()) + L")\n";
        }
    }
    return Answer(request, logPath, report.runs.empty() ? nullptr : &report.runs.back(), outcome,
                  clearonExitCode, out);
}

}  // namespace clearon::check
