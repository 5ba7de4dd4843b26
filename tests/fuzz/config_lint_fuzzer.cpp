// Feeds arbitrary bytes to ClearonCheck lint, as an administrator may point
// it at any file. Besides the sanitizers' checks, the report's own promises
// are asserted: a refused file carries Clearon's exit code, its message and
// one error; an accepted one has findings in line order, on lines the file
// has, and exit status 1 exactly when one of them is a warning; and the
// printed report grows with the file, never faster.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "check/lint/config_lint.h"

namespace {

using namespace clearon::check;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// A fixed environment, so a crash reproduces: LogPath's references to
// undefined names, to themselves and to long values all come up.
std::optional<std::wstring> LookUp(std::wstring_view name) {
    if (name == L"SystemRoot") return L"C:\\Windows";
    if (name == L"SELF") return L"%SELF%";
    if (name == L"LONG") return std::wstring(254, L'L');
    return std::nullopt;
}

// Each finding quotes its own line a bounded number of times (each
// character shown in at most five), beside a bounded text of its own.
constexpr std::size_t kReportPerLine = 8192;
constexpr std::size_t kReportPerByte = 160;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    LintOptions options;
    options.environment = LookUp;
    const LintResult result = LintConfigBytes(bytes, options);
    const std::wstring report = FormatLint(result, L"Clearon.ini");

    const auto errors =
        std::count_if(result.findings.begin(), result.findings.end(),
                      [](const Finding& f) { return f.severity == Severity::Error; });
    if (!result.refusal.empty()) {
        Require(result.exitCode != kLintClean && result.exitCode != kLintWarnings);
        Require(errors == 1 && result.findings.size() == 1);
        Require(report.find(result.refusal) != std::wstring::npos);
        return 0;
    }
    Require(result.exitCode == kLintClean || result.exitCode == kLintWarnings);
    Require(errors == 0);
    Require(result.lineCount >= 1);
    const bool warned =
        std::any_of(result.findings.begin(), result.findings.end(),
                    [](const Finding& f) { return f.severity == Severity::Warning; });
    Require(warned == (result.exitCode == kLintWarnings));
    for (std::size_t i = 0; i < result.findings.size(); ++i) {
        const Finding& finding = result.findings[i];
        Require(finding.line <= result.lineCount);
        Require(!finding.text.empty());
        Require(finding.text.find(L'\n') == std::wstring::npos);
        if (i > 0) Require(result.findings[i - 1].line <= finding.line);
    }
    // Every finding is one line of the report, between its heading, the
    // settings and the summary.
    Require(static_cast<std::size_t>(std::count(report.begin(), report.end(), L'\n')) ==
            result.findings.size() + 3);
    Require(report.size() <= kReportPerLine * (result.lineCount + 1) + kReportPerByte * size);
    return 0;
}
