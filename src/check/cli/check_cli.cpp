#include "check/cli/check_cli.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <CLI/CLI.hpp>

#include "check/cli/check_commands.h"
#include "check/cli/check_text.h"
#include "check/logs/run_outcome.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;

// The codes are written from their constants, so the usage never names a
// code the program does not end with.
[[nodiscard]] std::string Footer() {
    std::string footer =
        "Exit statuses:\n"
        "  lint     0 clean, 1 warnings, Clearon's own code (2, 13, 30, 38, 110, 223) for a file "
        "it refuses\n"
        "  preview  0 nothing would be removed, 1 something would, Clearon's own code for a "
        "refused file\n"
        "  report   0 every log and run complete, 1 one needs a look or --max-input left one "
        "out,\n"
        "           2 the folder cannot be read\n"
        "  result, deploy  0 done, 3010 restart needed, 1618 retry later, 1 a product stayed,\n"
        "           Aegira's installer's own code when it failed, Clearon's own code otherwise,\n";
    footer += "           " + std::to_string(MapRunOutcome(nullptr, std::nullopt).exitCode) +
              " no run to judge; deploy: 1460 Clearon outlived --time-limit\n"
              "  log      0 converted, 1 not a Clearon log, 2 the file cannot be read\n"
              "ClearonCheck's own failures, a private range outside Configuration Manager's "
              "retry list\nand outside Windows Installer's 1600-1699:\n";
    const std::pair<int, std::string_view> own[] = {
        {kCheckUsage, "a command line ClearonCheck does not understand"},
        {kCheckClearonNotStarted, "deploy: Clearon.exe is missing or cannot start"},
        {kCheckPreviewFault, "preview: a registry write was asked for (a fault of ClearonCheck)"},
        {kCheckNotElevated, "deploy: not run as administrator (Clearon.exe needs the rights)"},
        {kCheckUnexpectedError, "an unexpected error ended ClearonCheck"},
    };
    for (const auto& [code, meaning] : own) {
        footer += "  " + std::to_string(code) + " ";
        footer += meaning;
        footer += "\n";
    }
    return footer;
}

}  // namespace

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

std::optional<std::uint64_t> ParseByteSize(std::string_view text) noexcept {
    std::size_t digits = 0;
    std::uint64_t value = 0;
    for (; digits < text.size() && text[digits] >= '0' && text[digits] <= '9'; ++digits) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[digits] - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (digits == 0) return std::nullopt;
    std::string_view unit = text.substr(digits);
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (!unit.empty() && lower(unit.back()) == 'b') unit.remove_suffix(1);  // "10B", "4GB"
    int shift = 0;
    if (unit.size() == 1) {
        const char c = lower(unit.front());
        shift = c == 'k' ? 10 : c == 'm' ? 20 : c == 'g' ? 30 : -1;
    } else if (!unit.empty()) {
        shift = -1;
    }
    if (shift < 0 || value > (UINT64_MAX >> shift)) return std::nullopt;
    return value << shift;
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

int RunCheck(const std::vector<std::wstring>& arguments, const CheckPlatform& platform,
             std::wstring& out, TextSink err) {
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
    app.footer(Footer());
    app.require_subcommand(1, 1);

    std::vector<std::string> operands;
    std::string savedArguments;
    std::string logShare;
    double timeLimit = kDefaultTimeLimitMinutes;
    bool json = false;
    bool csv = false;
    bool bom = false;
    std::string maxInput;
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
    report->add_flag("--bom", bom, "start the CSV with a UTF-8 byte-order mark (for Excel)")
        ->needs(csvFlag);
    report
        ->add_option("--max-input", maxInput,
                     "bytes of logs to read in all, K, M or G (1024-based) allowed (default 4G); "
                     "the logs beyond are named on stderr")
        ->type_name("SIZE")
        ->check(CLI::Validator(
            [](const std::string& text) {
                return ParseByteSize(text) ? std::string() : "not a size: " + text;
            },
            ""));

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
        return kCheckUsage;
    }

    std::vector<std::wstring> wideOperands;
    for (const std::string& operand : operands) wideOperands.push_back(FromUtf8(operand));
    if (lint->parsed()) return RunLint(wideOperands, unattended, platform, out);
    if (preview->parsed())
        return RunPreview(wideOperands, FromUtf8(savedArguments), json, platform, out, err);
    if (report->parsed()) {
        const ReportRequest request{
            json  ? ReportFormat::Json
            : csv ? ReportFormat::Csv
                  : ReportFormat::Text,
            bom, maxInput.empty() ? kDefaultMaxInputBytes : ParseByteSize(maxInput).value_or(0)};
        return RunReport(fs::path(wideOperands.front()), request, platform, out, err);
    }
    if (logCommand->parsed()) return RunLog(fs::path(wideOperands.front()), cmtrace, out, err);
    if (result->parsed()) return RunResult(fs::path(wideOperands.front()), json, out, err);
    DeployRequest request;
    request.timeLimitMs = static_cast<std::uint32_t>(timeLimit * 60'000.0);
    request.logShare = FromUtf8(logShare);
    request.json = json;
    return RunDeploy(std::move(request), forClearon, platform, out, err);
}

}  // namespace clearon::check
