#include "check/lint/config_lint.h"

#include <algorithm>
#include <array>
#include <initializer_list>

#include "check/lint/lint_checks.h"
#include "check/lint/lint_context.h"
#include "config/config_file.h"
#include "config/config_lines.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

// In this order: the section walk marks the lines the switch scan reads, and
// the [Settings] strings the lines the run-mode and log checks point at. The
// findings are sorted by line afterwards, each line's in this order.
constexpr std::array<void (*)(LintContext&), 9> kChecks{
    LintLineEnds,     LintSections,       LintSwitches, LintSettingsEntries, LintProgramLines,
    LintProductNames, LintUninstallPaths, LintRunMode,  LintLogPath};

[[nodiscard]] bool StartsWithBytes(std::span<const std::uint8_t> bytes,
                                   std::initializer_list<std::uint8_t> prefix) {
    if (bytes.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// Why the format check failed, in words a person can act on.
[[nodiscard]] std::wstring ExplainBadFormat(std::span<const std::uint8_t> bytes) {
    if (StartsWithBytes(bytes, {0xEF, 0xBB, 0xBF})) {
        return L"the file starts with a UTF-8 byte-order mark, which Clearon refuses: save it as "
               L"ANSI or as UTF-16 LE (\"Unicode\")";
    }
    if (StartsWithBytes(bytes, {0xFE, 0xFF})) {
        return L"the file is UTF-16 big-endian: Clearon reads UTF-16 little-endian only";
    }
    const std::wstring wide = DecodeUtf16Le(bytes);
    const std::wstring narrow = DecodeSignExtended(bytes);
    std::wstring missing;
    for (const std::wstring_view header : {kSettingsHeader, kProductNamesHeader}) {
        if (!ContainsNoCase(wide, header) && !ContainsNoCase(narrow, header)) {
            if (!missing.empty()) missing += L" and ";
            missing += header;
        }
    }
    if (!missing.empty()) {
        return L"Clearon finds no " + missing +
               L" in it (the headers may stand anywhere, even in a comment, but both must be "
               L"there)";
    }
    return L"the headers are there, but a character 0 ends the text before one of them, or the two "
           L"are in different encodings";
}

}  // namespace

LintResult LintRefusedFile(int exitCode, std::wstring_view why) {
    LintResult result;
    result.exitCode = exitCode;
    result.refusal = ConfigErrorMessage(exitCode);
    result.findings.push_back({0, Severity::Error, std::wstring(why)});
    return result;
}

LintResult LintConfigBytes(std::span<const std::uint8_t> bytes, const LintOptions& options) {
    if (const int sizeResult = CheckConfigFileSize(bytes.size()); sizeResult != 0) {
        return LintRefusedFile(sizeResult, sizeResult == kExitConfigBlank
                                               ? L"the file is empty"
                                               : L"the file has " + std::to_wstring(bytes.size()) +
                                                     L" bytes; Clearon takes at most 65,535");
    }
    std::wstring text;
    const int decoded = DecodeConfigBytes(bytes, &bytes, text);
    if (decoded == kExitConfigBadFormat) return LintRefusedFile(decoded, ExplainBadFormat(bytes));
    if (decoded != 0) {
        return LintRefusedFile(decoded,
                               L"a single-byte file of 65,535 bytes without a byte 0 is "
                               L"one character more than Clearon's text can hold");
    }

    LintResult result;
    result.readAsUtf16 = IsValidConfigText(DecodeUtf16Le(bytes));
    const std::size_t units = result.readAsUtf16 ? (bytes.size() + 1) / 2 : bytes.size();
    LintContext lint(text, options, result);
    for (const auto check : kChecks) check(lint);

    std::wstring reading = result.readAsUtf16 ? L"read as UTF-16 LE" : L"read as single-byte text";
    reading += L", " + std::to_wstring(bytes.size()) + L" bytes, " +
               std::to_wstring(result.lineCount) + L" lines";
    result.findings.insert(result.findings.begin(), {0, Severity::Note, reading});
    if (text.size() < units) {
        result.findings.push_back(
            {result.lineCount, Severity::Warning,
             L"a character 0 ends the configuration here: the rest of the file is ignored"});
    }
    if (result.readAsUtf16 && bytes.size() % 2 != 0) {
        result.findings.push_back({0, Severity::Warning,
                                   L"a UTF-16 file with an odd number of bytes: its last byte is "
                                   L"read with a 0 beside it"});
    }
    if (!result.readAsUtf16 && HasSignExtended(text) && LooksLikeUtf8(text)) {
        result.findings.push_back(
            {0, Severity::Warning,
             L"the file looks like UTF-8 without a byte-order mark: Clearon reads it byte by byte, "
             L"so every letter beyond ASCII becomes two or three characters; save it as UTF-16 "
             L"LE"});
    }
    std::stable_sort(result.findings.begin(), result.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    const bool warned =
        std::any_of(result.findings.begin(), result.findings.end(),
                    [](const Finding& f) { return f.severity == Severity::Warning; });
    result.exitCode = warned ? kLintWarnings : kLintClean;
    return result;
}

std::wstring FormatLint(const LintResult& result, std::wstring_view path) {
    std::wstring out;
    std::size_t warnings = 0;
    out += L"Checking " + std::wstring(path) + L"\n";
    for (const Finding& finding : result.findings) {
        out += finding.line == 0 ? std::wstring(L"file: ")
                                 : L"line " + std::to_wstring(finding.line) + L": ";
        switch (finding.severity) {
            case Severity::Note:
                break;
            case Severity::Warning:
                out += L"warning: ";
                ++warnings;
                break;
            case Severity::Error:
                out += L"error: ";
                break;
        }
        out += finding.text;
        out += L"\n";
    }
    if (!result.refusal.empty()) {
        out += L"Clearon refuses this file with exit code " + std::to_wstring(result.exitCode) +
               L" and the message: " + result.refusal + L"\n";
        return out;
    }
    const Settings& s = result.settings;
    out += L"Settings as Clearon reads them:";
    for (const FlagSetting& flag : kFlagSettings) {
        out += L" " + std::wstring(flag.key) + L"=" + std::wstring(OnOff(s.*flag.field));
    }
    out += L"\n";
    out += L"Summary: " + std::to_wstring(warnings) + L" warning(s); exit status " +
           std::to_wstring(result.exitCode) + L"\n";
    return out;
}

}  // namespace clearon::check
