#include "check/check_cli.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <system_error>

#include "check/check_text.h"
#include "check/log_convert.h"
#include "check/log_report.h"
#include "config/config_file.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;

constexpr std::wstring_view kUsage =
    L"ClearonCheck: checks what Clearon will do, before and after it runs.\n"
    L"\n"
    L"  ClearonCheck lint [Clearon.ini]\n"
    L"      What Clearon makes of its configuration file, line by line, and every trap in it.\n"
    L"      Exit status 0 when clean, 1 with warnings, Clearon's own exit code (2, 13, 30, 38,\n"
    L"      110, 223) when Clearon would refuse the file.\n"
    L"  ClearonCheck preview [Clearon.ini or its folder] [--args \"arguments\"]   (Windows)\n"
    L"      Every installed product Clearon would meet and the exact command it would run;\n"
    L"      reads the registry only, runs and writes nothing, needs no administrator rights.\n"
    L"  ClearonCheck report <folder of logs> [--csv]\n"
    L"      One row per computer and run from the Clearon.<computer>.log files, then totals.\n"
    L"      Exit status 0 when every log and run is complete, 1 when one needs a look, 2 when\n"
    L"      the folder cannot be read.\n"
    L"  ClearonCheck log <log file> [--utf8 | --cmtrace]\n"
    L"      A run log as UTF-8 text (the default), or as CMTrace lines for Configuration\n"
    L"      Manager's log viewer. Exit status 0 when converted, 1 when the file is not a\n"
    L"      Clearon log, 2 when it cannot be read.\n";

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
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
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

int Lint(const std::vector<std::wstring>& operands, const CheckPlatform& platform,
         std::wstring& out) {
    if (operands.size() > 1) {
        out += kUsage;
        return kExitUsage;
    }
    const fs::path path = ConfigPathFrom(operands);
    LintOptions options{platform.environment, platform.environmentSource};
    std::wstring text;
    LintResult result;
    (void)LoadConfigLikeClearon(path, text, result, options);
    out += FormatLint(result, path.wstring());
    return result.exitCode;
}

int Preview(const std::vector<std::wstring>& operands, std::wstring_view savedArguments,
            const CheckPlatform& platform, std::wstring& out) {
    if (!platform.preview) {
        out += L"preview reads the Windows registry: run ClearonCheck.exe preview on Windows\n";
        return kExitUsage;
    }
    if (operands.size() > 1) {
        out += kUsage;
        return kExitUsage;
    }
    const fs::path path = ConfigPathFrom(operands);
    LintOptions options{platform.environment, platform.environmentSource};
    std::wstring text;
    LintResult refusal;
    if (const int loaded = LoadConfigLikeClearon(path, text, refusal, options); loaded != 0) {
        out += FormatLint(refusal, path.wstring());
        return loaded;
    }
    return platform.preview(path, text, savedArguments, out);
}

int Report(const std::vector<std::wstring>& operands, bool csv, std::wstring& out) {
    if (operands.size() != 1) {
        out += kUsage;
        return kExitUsage;
    }
    const fs::path folder(operands.front());
    std::error_code error;
    std::vector<fs::path> logs;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path name = it->path().filename();
        if (IsRunLogName(name.wstring()) && !it->is_directory(error)) logs.push_back(it->path());
    }
    if (error) {
        out += L"cannot read the folder " + folder.wstring() + L"\n";
        return kReportNoFolder;
    }
    std::sort(logs.begin(), logs.end());

    std::vector<LogFileReport> reports;
    for (const fs::path& log : logs) {
        std::vector<std::uint8_t> bytes;
        std::uint64_t size = 0;
        const std::wstring name = log.filename().wstring();
        switch (ReadWholeFile(log, kMaxRunLogBytes, bytes, size)) {
            case ReadOutcome::Ok:
                reports.push_back(size > kMaxRunLogBytes
                                      ? UnreadableRunLog(name, L"larger than 256 MiB: not read")
                                      : ReadRunLog(name, bytes));
                break;
            case ReadOutcome::Missing:
                reports.push_back(UnreadableRunLog(name, L"gone before it could be read"));
                break;
            case ReadOutcome::OpenFailed:
            case ReadOutcome::ReadFailed:
                reports.push_back(UnreadableRunLog(
                    name, L"could not be read (Clearon may be writing to it right now)"));
                break;
        }
    }
    out += csv ? FormatReportCsv(reports) : FormatReportText(reports);
    const ReportTotals totals = TotalReport(reports);
    return totals.filesWithProblems > 0 || totals.runsWithoutStop > 0 ? kReportAttention
                                                                      : kReportClean;
}

int ConvertLog(const std::vector<std::wstring>& operands, bool cmtrace, std::wstring& out) {
    if (operands.size() != 1) {
        out += kUsage;
        return kExitUsage;
    }
    const fs::path path(operands.front());
    std::vector<std::uint8_t> bytes;
    std::uint64_t size = 0;
    if (ReadWholeFile(path, kMaxRunLogBytes, bytes, size) != ReadOutcome::Ok ||
        size > kMaxRunLogBytes) {
        out += L"cannot read the log " + path.wstring() + L"\n";
        return kLogUnreadable;
    }
    const DecodedLog log = DecodeLog(bytes);
    if (!log.clearonLog || log.byteText) {
        out += L"not a Clearon log: " + path.wstring() +
               (log.byteText ? L" is single-byte text, where Clearon writes UTF-16 LE\n"
                             : L" holds no computer-name or timestamped line\n");
        return kLogForeign;
    }
    out += cmtrace ? FormatCmTrace(log.entries) : FormatLogText(log.entries);
    return kLogConverted;
}

}  // namespace

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

int RunCheck(const std::vector<std::wstring>& arguments, const CheckPlatform& platform,
             std::wstring& out) {
    if (arguments.empty()) {
        out += kUsage;
        return kExitUsage;
    }
    const std::wstring& command = arguments.front();
    std::vector<std::wstring> operands;
    bool csv = false;
    int logFormats = 0;  // --utf8, --cmtrace: at most one
    bool cmtrace = false;
    std::optional<std::wstring> savedArguments;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"--csv") {
            csv = true;
        } else if (arguments[i] == L"--utf8" || arguments[i] == L"--cmtrace") {
            ++logFormats;
            cmtrace = arguments[i] == L"--cmtrace";
        } else if (arguments[i] == L"--args" && i + 1 < arguments.size()) {
            savedArguments = arguments[++i];
        } else {
            operands.push_back(arguments[i]);
        }
    }
    if (command == L"log" && !csv && !savedArguments && logFormats <= 1)
        return ConvertLog(operands, cmtrace, out);
    if (logFormats > 0) {
        out += kUsage;
        return kExitUsage;
    }
    if (command == L"lint" && !csv && !savedArguments) return Lint(operands, platform, out);
    if (command == L"preview" && !csv)
        return Preview(operands, savedArguments.value_or(L""), platform, out);
    if (command == L"report" && !savedArguments) return Report(operands, csv, out);
    out += kUsage;
    return kExitUsage;
}

}  // namespace clearon::check
