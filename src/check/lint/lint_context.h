// What every check of ClearonCheck lint works on: the configuration text as
// each of Clearon's readers sees it, line by line, and the findings so far.
// The checks (lint_checks.h) each look at one kind of line; LintConfigBytes
// runs them in order over one LintContext.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check/lint/config_lint.h"
#include "config/settings.h"

namespace clearon::check {

// The [Settings] strings, each read by GetSectionValue from the first line
// that contains its key.
inline constexpr std::array<std::wstring_view, 8> kLintStringKeys{kKeyMessageBoxText,
                                                                  kKeyMSIExtraParameters,
                                                                  kKeyInstallShieldExtraParameters,
                                                                  kKeyDefaultExtraParameters,
                                                                  kKeyLogPath,
                                                                  kKeyProgramTimeLimit,
                                                                  kKeyOtherRunTimeLimit,
                                                                  kKeyAllowedWriterSids};
inline constexpr std::array<std::wstring_view, 2> kLintProgramLists{kKeyRunBeforeRemoval,
                                                                    kKeyRunAfterRemoval};

// One line of the file up to its line feed, which is not included.
struct RawLine {
    std::wstring_view text;
    bool endsWithLineFeed = false;
};

// A line of a section, as the readers that keep blanks see it.
struct LintEntry {
    std::wstring text;
    std::size_t number = 0;
    bool tooLong = false;  // longer than Clearon's 254-character line buffer
};

// Every entry of the section `header`, in file order.
[[nodiscard]] std::vector<LintEntry> SectionEntries(std::wstring_view text,
                                                    std::wstring_view header);

class LintContext {
public:
    // Splits `text` into its lines for every reader; the settings are read
    // into `result`.
    LintContext(std::wstring_view text, const LintOptions& options, LintResult& result);

    std::wstring_view text;
    const LintOptions& options;
    LintResult& result;
    std::vector<RawLine> raw;        // split at line feeds only
    std::vector<std::wstring> keep;  // as the readers that keep blanks see the lines
    std::vector<std::wstring> drop;  // as the switch scan sees them, blanks dropped
    // Per line: does the switch scan see it inside [Settings]? Set by the
    // section walk, read by the switch checks.
    std::vector<bool> switchLines;
    // The lines MessageBoxText and LogPath are read from; 0 when none.
    std::size_t messageBoxLine = 0;
    std::size_t logPathLine = 0;

    void Note(std::size_t line, std::wstring finding) {
        result.findings.push_back({line, Severity::Note, std::move(finding)});
    }
    void Warn(std::size_t line, std::wstring finding) {
        result.findings.push_back({line, Severity::Warning, std::move(finding)});
    }

    // Is the line (index from 0) a comment to the readers that keep blanks
    // or to the switch scan?
    [[nodiscard]] bool IsCommentForAnyReader(std::size_t index) const;
};

// `text` between double quotes, made visible.
[[nodiscard]] std::wstring Quoted(std::wstring_view text);

[[nodiscard]] std::wstring_view OnOff(bool value) noexcept;

// The key of a "key=value" line: the text before the first "=", without the
// blanks around it.
[[nodiscard]] std::wstring_view KeyPart(std::wstring_view line) noexcept;

// Does the text hold characters U+FF80..U+FFFF, the single bytes above 0x7F
// as Clearon reads them?
[[nodiscard]] bool HasSignExtended(std::wstring_view text) noexcept;

// Do the single bytes of this text (U+FF80.. for bytes above 0x7F) form
// UTF-8 sequences? Then the file was saved as UTF-8 without a byte-order
// mark, and every non-ASCII letter arrives as two or three characters.
[[nodiscard]] bool LooksLikeUtf8(std::wstring_view text) noexcept;

}  // namespace clearon::check
