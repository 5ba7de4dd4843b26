#include "check/cli/check_commands.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <system_error>
#include <utility>

#include "check/cli/check_json.h"
#include "check/cli/check_text.h"
#include "check/logs/log_convert.h"
#include "check/logs/log_report.h"
#include "check/logs/report_writer.h"
#include "check/logs/run_outcome.h"
#include "check/lint/unattended_lint.h"
#include "config/config_file.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;

enum class ReadOutcome { Ok, Missing, OpenFailed, ReadFailed };

// The whole file, as Clearon reads it: a missing name is 2, a name that does
// not open (a folder, a file another program holds) is 110, a failed read 30.
[[nodiscard]] ReadOutcome ReadWholeFile(const fs::path& path, std::uint64_t limit,
                                        std::vector<std::uint8_t>& bytes, std::uint64_t& size) {
    std::error_code error;
    if (!fs::exists(path, error)) return ReadOutcome::Missing;
    if (fs::is_directory(path, error)) return ReadOutcome::OpenFailed;
    std::ifstream file(path, std::ios::binary);
    if (!file) return ReadOutcome::OpenFailed;
    size = fs::file_size(path, error);
    if (error) return ReadOutcome::ReadFailed;
    if (size > limit) return ReadOutcome::Ok;  // the caller refuses it by its size
    // One read of the known size: a character at a time costs more than the
    // whole report of a large log.
    bytes.resize(static_cast<std::size_t>(size));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    if (file.bad()) return ReadOutcome::ReadFailed;
    return ReadOutcome::Ok;
}

[[nodiscard]] fs::path ConfigPathFrom(const std::vector<std::wstring>& operands) {
    if (operands.empty()) return fs::path(std::wstring(kConfigFileName));
    fs::path path(operands.front());
    std::error_code error;
    if (fs::is_directory(path, error)) path /= std::wstring(kConfigFileName);
    return path;
}

}  // namespace

int RunLint(const std::vector<std::wstring>& operands, bool unattended,
            const CheckPlatform& platform, std::wstring& out) {
    const fs::path path = ConfigPathFrom(operands);
    LintOptions options{platform.environment, platform.environmentSource};
    std::wstring text;
    LintResult result;
    if (LoadConfigLikeClearon(path, text, result, options) == 0 && unattended) {
        std::vector<Finding> findings = LintUnattended(text, result.settings, platform.environment);
        if (platform.folderChangeableByOthers) {
            std::error_code error;
            const std::wstring folder = fs::absolute(path, error).parent_path().wstring();
            if (const std::optional<std::wstring> reason =
                    platform.folderChangeableByOthers(folder, result.settings)) {
                findings.push_back(OwnFolderFinding(folder, *reason));
            }
        }
        for (Finding& finding : findings) {
            // A note says what Clearon will do; only a trap is a warning.
            if (finding.severity != Severity::Note) {
                result.exitCode = std::max(result.exitCode, kLintWarnings);
            }
            result.findings.push_back(std::move(finding));
        }
    }
    out += FormatLint(result, path.wstring());
    return result.exitCode;
}

int RunPreview(const std::vector<std::wstring>& operands, std::wstring_view savedArguments,
               bool json, const CheckPlatform& platform, std::wstring& out, TextSink& err) {
    if (!platform.preview) {
        err += L"preview reads the Windows registry: run ClearonCheck.exe preview on Windows\n";
        return kCheckUsage;
    }
    const fs::path path = ConfigPathFrom(operands);
    LintOptions options{platform.environment, platform.environmentSource};
    std::wstring text;
    LintResult refusal;
    if (const int loaded = LoadConfigLikeClearon(path, text, refusal, options); loaded != 0) {
        err += FormatLint(refusal, path.wstring());
        return loaded;
    }
    return platform.preview(path, text, savedArguments, json, out, err);
}

int RunReport(const fs::path& folder, const ReportRequest& request, const CheckPlatform& platform,
              std::wstring& out, TextSink& err) {
    std::error_code error;
    std::vector<std::pair<fs::path, std::uint64_t>> found;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path name = it->path().filename();
        if (IsRunLogName(name.wstring()) && !it->is_directory(error)) {
            // A size that cannot be read counts nothing here; reading the
            // log tells what became of it.
            std::error_code sizeError;
            const std::uintmax_t size = it->file_size(sizeError);
            found.emplace_back(it->path(), sizeError ? 0 : size);
        }
    }
    if (error) {
        err += L"cannot read the folder " + folder.wstring() + L"\n";
        return kReportNoFolder;
    }
    std::sort(found.begin(), found.end());
    std::vector<std::uint64_t> sizes;
    for (const auto& log : found) sizes.push_back(log.second);
    const std::size_t within = LogsWithinInput(sizes, request.maxInput);
    for (std::size_t i = within; i < found.size(); ++i) {
        err += L"not read, beyond --max-input of " + std::to_wstring(request.maxInput) +
               L" bytes in all: " + found[i].first.filename().wstring() + L" (" +
               std::to_wstring(found[i].second) + L" bytes)\n";
    }
    found.resize(within);
    std::vector<fs::path> logs;
    for (auto& log : found) logs.push_back(std::move(log.first));

    const ReportFormat format = request.format;
    // Excel opens a CSV file with a byte-order mark as UTF-8; without one it
    // takes the ANSI code page. Asked for only, so the bytes stay as scripts
    // know them.
    if (format == ReportFormat::Csv && request.byteOrderMark) out += kByteOrderMark;
    ReportWriter writer(format, out, platform.flush);
    const auto unreadable = [&](const LogFileReport& file) {
        writer.BeginFile(file);
        writer.EndFile(file);
    };
    for (const fs::path& log : logs) {
        std::vector<std::uint8_t> bytes;
        std::uint64_t size = 0;
        const std::wstring name = log.filename().wstring();
        switch (ReadWholeFile(log, kMaxRunLogBytes, bytes, size)) {
            case ReadOutcome::Ok:
                if (size > kMaxRunLogBytes) {
                    unreadable(UnreadableRunLog(name, L"larger than 256 MiB: not read"));
                    break;
                }
                {
                    // JSON names a file's problems before its runs: a first
                    // reading finds them.
                    LogFileReport file;
                    file.fileName = name;
                    if (format == ReportFormat::Json)
                        file = ReadRunLog(name, bytes, [](const LogFileReport&, LogRun&, bool) {});
                    writer.BeginFile(file);
                    file = ReadRunLog(name, bytes,
                                      [&](const LogFileReport& read, LogRun& run, bool last) {
                                          writer.Run(read, run, last);
                                      });
                    writer.EndFile(file);
                }
                break;
            case ReadOutcome::Missing:
                unreadable(UnreadableRunLog(name, L"gone before it could be read"));
                break;
            case ReadOutcome::OpenFailed:
            case ReadOutcome::ReadFailed:
                unreadable(UnreadableRunLog(
                    name, L"could not be read (Clearon may be writing to it right now)"));
                break;
        }
    }
    writer.End();
    const ReportTotals totals = writer.Totals();
    return totals.filesWithProblems > 0 || totals.runsWithoutStop > 0 || within < sizes.size()
               ? kReportAttention
               : kReportClean;
}

int LoadConfigLikeClearon(const fs::path& path, std::wstring& text, LintResult& lint,
                          const LintOptions& options) {
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
    switch (ReadWholeFile(path, kMaxConfigFileBytes, bytes, size)) {
        case ReadOutcome::Missing:
            lint = LintRefusedFile(kExitConfigMissing, L"there is no such file");
            return lint.exitCode;
        case ReadOutcome::OpenFailed:
            lint = LintRefusedFile(kExitConfigOpenFailed,
                                   L"the file cannot be opened (a folder, or a file another "
                                   L"program holds open)");
            return lint.exitCode;
        case ReadOutcome::ReadFailed:
            lint = LintRefusedFile(kExitConfigReadFailed, L"the file cannot be read");
            return lint.exitCode;
        case ReadOutcome::Ok:
            break;
    }
    if (const int sizeResult = CheckConfigFileSize(size); sizeResult != 0) {
        lint = LintRefusedFile(sizeResult, sizeResult == kExitConfigBlank
                                               ? L"the file is empty"
                                               : L"the file has " + std::to_wstring(size) +
                                                     L" bytes; Clearon takes at most 65,535");
        return sizeResult;
    }
    lint = LintConfigBytes(bytes, options);
    if (!lint.refusal.empty()) return lint.exitCode;
    const std::span<const std::uint8_t> second(bytes);
    return DecodeConfigBytes(bytes, &second, text);
}

int ResultOfLog(const std::wstring& logName, std::span<const std::uint8_t> bytes, bool json,
                std::wstring& out) {
    // Only the last run counts: the others are let go as they are read.
    std::optional<LogRun> last;
    (void)ReadRunLog(logName, bytes,
                     [&](const LogFileReport&, LogRun& run, bool) { last = std::move(run); });
    const LogRun* run = last ? &*last : nullptr;
    const RunOutcome outcome = MapRunOutcome(run, std::nullopt);
    out += json ? ResultJson(logName, run, outcome) : OutcomeLine(outcome) + L"\n";
    return outcome.exitCode;
}

int RunLog(const fs::path& path, bool cmtrace, std::wstring& out, TextSink& err) {
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
    if (ReadWholeFile(path, kMaxRunLogBytes, bytes, size) != ReadOutcome::Ok ||
        size > kMaxRunLogBytes) {
        err += L"cannot read the log " + path.wstring() + L"\n";
        return kLogUnreadable;
    }
    const DecodedLog log = DecodeLog(bytes);
    if (!log.clearonLog || log.byteText) {
        err += L"not a Clearon log: " + path.wstring() +
               (log.byteText ? L" is single-byte text, where Clearon writes UTF-16 LE\n"
                             : L" holds no computer-name or timestamped line\n");
        return kLogForeign;
    }
    out += cmtrace ? FormatCmTrace(log.entries) : FormatLogText(log.entries);
    return kLogConverted;
}

int RunResult(const fs::path& log, bool json, std::wstring& out, TextSink& err) {
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
    if (ReadWholeFile(log, kMaxRunLogBytes, bytes, size) != ReadOutcome::Ok ||
        size > kMaxRunLogBytes) {
        err += L"cannot read the log " + log.wstring() + L"\n";
        const RunOutcome none = MapRunOutcome(nullptr, std::nullopt);
        out += json ? ResultJson(log.wstring(), nullptr, none) : OutcomeLine(none) + L"\n";
        return none.exitCode;
    }
    return ResultOfLog(log.wstring(), bytes, json, out);
}

int RunDeploy(DeployRequest request, const std::vector<std::wstring>& forClearon,
              const CheckPlatform& platform, std::wstring& out, TextSink& err) {
    if (!platform.deploy) {
        err += L"deploy runs Clearon.exe: run ClearonCheck.exe deploy on Windows\n";
        return kCheckUsage;
    }
    // The raw text keeps the quoting the caller wrote (PROP="a b" stays so);
    // quoting the split arguments again would hand on "PROP=a b".
    const std::optional<std::wstring> raw = platform.rawCommandLine.empty()
                                                ? std::nullopt
                                                : RawTextAfterDoubleDash(platform.rawCommandLine);
    request.clearonArguments = raw ? *raw : JoinArguments(forClearon);
    return platform.deploy(request, out, err);
}

}  // namespace clearon::check
