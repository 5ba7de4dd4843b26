#include "check/cli/check_cli.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <system_error>

#include <CLI/CLI.hpp>

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

constexpr std::string_view kFooter =
    "Exit statuses:\n"
    "  lint     0 clean, 1 warnings, Clearon's own code (2, 13, 30, 38, 110, 223) for a file it "
    "refuses\n"
    "  preview  0 nothing would be removed, 1 something would, Clearon's own code for a refused "
    "file\n"
    "  report   0 every log and run complete, 1 one needs a look, 2 the folder cannot be read\n"
    "  result, deploy  0 done, 3010 restart needed, 1618 retry later, 1 a product stayed,\n"
    "           Aegira's installer's own code when it failed, Clearon's own code otherwise,\n"
    "           1603 no run to judge; deploy: 1460 Clearon outlived --time-limit\n"
    "  log      0 converted, 1 not a Clearon log, 2 the file cannot be read\n"
    "  64 a command line ClearonCheck does not understand\n";

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

int Lint(const std::vector<std::wstring>& operands, bool unattended, const CheckPlatform& platform,
         std::wstring& out) {
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

int Preview(const std::vector<std::wstring>& operands, std::wstring_view savedArguments, bool json,
            const CheckPlatform& platform, std::wstring& out, std::wstring& err) {
    if (!platform.preview) {
        err += L"preview reads the Windows registry: run ClearonCheck.exe preview on Windows\n";
        return kExitUsage;
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

int Report(const fs::path& folder, ReportFormat format, const CheckPlatform& platform,
           std::wstring& out, std::wstring& err) {
    std::error_code error;
    std::vector<fs::path> logs;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path name = it->path().filename();
        if (IsRunLogName(name.wstring()) && !it->is_directory(error)) logs.push_back(it->path());
    }
    if (error) {
        err += L"cannot read the folder " + folder.wstring() + L"\n";
        return kReportNoFolder;
    }
    std::sort(logs.begin(), logs.end());

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
    return totals.filesWithProblems > 0 || totals.runsWithoutStop > 0 ? kReportAttention
                                                                      : kReportClean;
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

std::optional<std::wstring> RawTextAfterDoubleDash(std::wstring_view commandLine) {
    const auto isBlank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    std::size_t at = 0;
    // The program name: up to the next quote when quoted, else to a blank;
    // backslashes mean nothing in it.
    if (at < commandLine.size() && commandLine[at] == L'"') {
        const std::size_t close = commandLine.find(L'"', at + 1);
        at = close == std::wstring_view::npos ? commandLine.size() : close + 1;
    }
    while (at < commandLine.size() && !isBlank(commandLine[at])) ++at;
    for (;;) {
        while (at < commandLine.size() && isBlank(commandLine[at])) ++at;
        if (at == commandLine.size()) return std::nullopt;
        std::wstring value;
        bool quoted = false;
        while (at < commandLine.size() && (quoted || !isBlank(commandLine[at]))) {
            std::size_t backslashes = 0;
            while (at < commandLine.size() && commandLine[at] == L'\\') {
                ++backslashes;
                ++at;
            }
            if (at < commandLine.size() && commandLine[at] == L'"') {
                value.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    value.push_back(L'"');
                } else if (quoted && at + 1 < commandLine.size() && commandLine[at + 1] == L'"') {
                    value.push_back(L'"');  // "" inside quotes is one quote
                    ++at;
                } else {
                    quoted = !quoted;
                }
                ++at;
                continue;
            }
            value.append(backslashes, L'\\');
            if (at < commandLine.size() && (quoted || !isBlank(commandLine[at]))) {
                value.push_back(commandLine[at]);
                ++at;
            }
        }
        if (value == L"--") {
            while (at < commandLine.size() && isBlank(commandLine[at])) ++at;
            return std::wstring(commandLine.substr(at));
        }
    }
}

std::wstring JoinArguments(const std::vector<std::wstring>& arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        if (!line.empty()) line += L' ';
        if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
            line += argument;
            continue;
        }
        // The rules of CommandLineToArgvW: backslashes count only before a quote.
        line += L'"';
        std::size_t backslashes = 0;
        for (const wchar_t c : argument) {
            if (c == L'\\') {
                ++backslashes;
            } else {
                line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
                backslashes = 0;
            }
            if (c != L'\\') line += c;
        }
        line.append(backslashes * 2, L'\\');
        line += L'"';
    }
    return line;
}

namespace {

int ConvertLog(const fs::path& path, bool cmtrace, std::wstring& out, std::wstring& err) {
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

}  // namespace

int RunCheck(const std::vector<std::wstring>& arguments, const CheckPlatform& platform,
             std::wstring& out, std::wstring& err) {
    // deploy hands everything after "--" to Clearon.exe untouched.
    std::vector<std::string> ours;
    std::vector<std::wstring> forClearon;
    bool passOn = false;
    for (const std::wstring& argument : arguments) {
        if (passOn) {
            forClearon.push_back(argument);
        } else if (argument == L"--") {
            passOn = true;
        } else {
            // The Windows spelling of a request for help.
            ours.push_back(argument == L"/?" ? std::string("--help") : ToUtf8(argument));
        }
    }

    CLI::App app{
        "ClearonCheck: checks what Clearon will do, before and after it runs, and runs it "
        "for a deployment system.",
        "ClearonCheck"};
    app.set_version_flag("--version", "ClearonCheck " CLEARON_VERSION_TEXT);
    app.footer(std::string(kFooter));
    app.require_subcommand(1, 1);

    std::vector<std::string> operands;
    std::string savedArguments;
    std::string logShare;
    double timeLimit = kDefaultTimeLimitMinutes;
    bool json = false;
    bool csv = false;
    bool unattended = false;
    bool utf8 = false;
    bool cmtrace = false;

    CLI::App* lint = app.add_subcommand(
        "lint",
        "What Clearon makes of its configuration file, line by line, and every trap in it.");
    lint->add_option("config", operands, "Clearon.ini or its folder (default: .\\Clearon.ini)")
        ->expected(0, 1);
    lint->add_flag("--unattended", unattended,
                   "also the traps of a run as SYSTEM: boxes, resume, log folder, time limit");

    CLI::App* preview = app.add_subcommand(
        "preview",
        "Every installed product Clearon would meet and the exact command it would run "
        "(Windows; reads only).");
    preview->add_option("config", operands, "Clearon.ini or its folder")->expected(0, 1);
    preview->add_option("--args", savedArguments, "the arguments Clearon would be started with");
    preview->add_flag("--json", json, "JSON (docs/clearon-check-json.md)");

    CLI::App* report = app.add_subcommand(
        "report",
        "One row per computer and run from the Clearon.<computer>.log files, then totals.");
    report->add_option("folder", operands, "the folder of run logs")->required()->expected(1);
    CLI::Option* csvFlag = report->add_flag("--csv", csv, "CSV rows for a spreadsheet");
    report->add_flag("--json", json, "JSON (docs/clearon-check-json.md)")->excludes(csvFlag);

    CLI::App* result = app.add_subcommand(
        "result", "The outcome of the last run in a log file, as deploy maps it.");
    result->add_option("log", operands, "a Clearon.<computer>.log file")->required()->expected(1);
    result->add_flag("--json", json, "JSON (docs/clearon-check-json.md)");

    CLI::App* logCommand = app.add_subcommand(
        "log",
        "A run log as UTF-8 text (the default) or as CMTrace lines for Configuration "
        "Manager's log viewer.");
    logCommand->add_option("log", operands, "a Clearon.<computer>.log file")
        ->required()
        ->expected(1);
    CLI::Option* utf8Flag = logCommand->add_flag("--utf8", utf8, "UTF-8 text (the default)");
    logCommand->add_flag("--cmtrace", cmtrace, "CMTrace lines")->excludes(utf8Flag);

    CLI::App* deploy = app.add_subcommand(
        "deploy",
        "Runs Clearon.exe beside ClearonCheck.exe for a deployment system and answers "
        "with a code it understands. Arguments after -- go to Clearon.exe.");
    deploy->add_option("--time-limit", timeLimit, "minutes to wait for Clearon (default 50)")
        ->check(CLI::Range(0.01, 1440.0));
    deploy->add_option("--log-share", logShare,
                       "a folder to copy the run log to, as Clearon.<computer>.log");
    deploy->add_flag("--json", json, "JSON (docs/clearon-check-json.md)");

    try {
        std::reverse(ours.begin(), ours.end());  // CLI11 takes them last first
        app.parse(std::move(ours));
        if (passOn && !deploy->parsed()) {
            throw CLI::ExtrasError("-- is only understood by deploy", CLI::ExitCodes::ExtrasError);
        }
    } catch (const CLI::CallForHelp&) {
        CLI::App* asked = &app;
        for (CLI::App* sub : {lint, preview, report, result, logCommand, deploy}) {
            if (sub->parsed()) asked = sub;
        }
        out += FromUtf8(asked->help());
        return 0;
    } catch (const CLI::CallForVersion&) {
        out += FromUtf8("ClearonCheck " CLEARON_VERSION_TEXT "\n");
        return 0;
    } catch (const CLI::ParseError& error) {
        err += L"ClearonCheck: " + FromUtf8(error.what()) + L"\n\n" + FromUtf8(app.help());
        return kExitUsage;
    }

    std::vector<std::wstring> wideOperands;
    for (const std::string& operand : operands) wideOperands.push_back(FromUtf8(operand));
    if (lint->parsed()) return Lint(wideOperands, unattended, platform, out);
    if (preview->parsed())
        return Preview(wideOperands, FromUtf8(savedArguments), json, platform, out, err);
    if (report->parsed())
        return Report(fs::path(wideOperands.front()),
                      json  ? ReportFormat::Json
                      : csv ? ReportFormat::Csv
                            : ReportFormat::Text,
                      platform, out, err);
    if (logCommand->parsed()) return ConvertLog(fs::path(wideOperands.front()), cmtrace, out, err);
    if (result->parsed()) {
        const fs::path log(wideOperands.front());
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
    if (!platform.deploy) {
        err += L"deploy runs Clearon.exe: run ClearonCheck.exe deploy on Windows\n";
        return kExitUsage;
    }
    DeployRequest request;
    request.timeLimitMs = static_cast<std::uint32_t>(timeLimit * 60'000.0);
    request.logShare = FromUtf8(logShare);
    request.json = json;
    // The raw text keeps the quoting the caller wrote (PROP="a b" stays so);
    // quoting the split arguments again would hand on "PROP=a b".
    const std::optional<std::wstring> raw = platform.rawCommandLine.empty()
                                                ? std::nullopt
                                                : RawTextAfterDoubleDash(platform.rawCommandLine);
    request.clearonArguments = raw ? *raw : JoinArguments(forClearon);
    return platform.deploy(request, out, err);
}

}  // namespace clearon::check
