#include "check/lint/lint_checks.h"

#include <algorithm>
#include <array>

#include "check/cli/check_text.h"
#include "config/config_lines.h"
#include "config/settings.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

constexpr wchar_t kCarriageReturn = L'\r';

struct Section {
    std::wstring_view header;
    std::wstring_view name;  // as it is shown
};
constexpr std::array<Section, 3> kSections{{{kSettingsHeader, L"[Settings]"},
                                            {kProductNamesHeader, L"[ProductNames]"},
                                            {kUninstallPathsHeader, L"[UninstallPaths]"}}};

struct SectionState {
    std::array<bool, 3> open{};        // the readers that keep blanks, per section
    bool settingsForSwitches = false;  // the switch scan, which drops blanks

    [[nodiscard]] bool Any() const noexcept { return open[0] || open[1] || open[2]; }
};

[[nodiscard]] std::wstring WithoutBlanks(std::wstring_view text) {
    std::wstring out;
    for (const wchar_t c : text) {
        if (c != L' ') out.push_back(c);
    }
    return out;
}

[[nodiscard]] std::wstring DescribeChange(const SectionState& before, const SectionState& after) {
    std::wstring ends;
    std::wstring opens;
    for (std::size_t s = 0; s < kSections.size(); ++s) {
        if (before.open[s] == after.open[s]) continue;
        std::wstring& list = before.open[s] ? ends : opens;
        if (!list.empty()) list += L" and ";
        list += kSections[s].name;
    }
    std::wstring text;
    if (!ends.empty()) text += L"it ends " + ends;
    if (!opens.empty()) text += (text.empty() ? L"it opens " : L", and opens ") + opens;
    if (!ends.empty() && opens.empty() && !after.Any()) {
        text += L"; the lines after it are outside any section until the next header";
    }
    return text;
}

[[nodiscard]] bool LooksLikeHeader(std::wstring_view line) noexcept {
    // A UTF-16 file's byte-order mark stays in front of its first line.
    if (!line.empty() && line.front() == kByteOrderMark) line.remove_prefix(1);
    const std::wstring_view t = TrimBlanks(line);
    return t.size() >= 2 && t.front() == L'[' && t.back() == L']' &&
           std::count(t.begin(), t.end(), L'[') == 1 && std::count(t.begin(), t.end(), L']') == 1;
}

}  // namespace

// Line ends: a line feed takes the character before it along, whatever it
// is; only a carriage return there is harmless.
void LintLineEnds(LintContext& lint) {
    std::size_t bare = 0;
    for (std::size_t i = 0; i < lint.raw.size(); ++i) {
        const std::wstring_view line = lint.raw[i].text;
        const std::size_t number = i + 1;
        const std::size_t returnAt = line.find(kCarriageReturn);
        if (returnAt != std::wstring_view::npos && returnAt + 1 < line.size()) {
            lint.Warn(number,
                      L"holds a carriage return that is not followed by a line feed: only a "
                      L"line feed ends a line, so Clearon reads the text on both sides of it "
                      L"as one line");
        }
        if (!lint.raw[i].endsWithLineFeed) {
            if (!line.empty() && line.back() == kCarriageReturn) {
                lint.Warn(number,
                          L"the last line ends with a carriage return but no line feed: "
                          L"Clearon keeps the carriage return as part of the line");
            }
            continue;
        }
        if (!line.empty() && line.back() == kCarriageReturn) continue;
        ++bare;
        if (TrimBlanks(line).empty() || lint.IsCommentForAnyReader(i)) continue;
        std::wstring text =
            L"ends with a bare line feed, which takes the line's last character "
            L"with it: Clearon reads " +
            Quoted(lint.keep[i]);
        if (lint.drop[i] != WithoutBlanks(lint.keep[i])) {
            text += L" (and the switch scan, which drops blanks first, reads " +
                    Quoted(lint.drop[i]) + L")";
        }
        lint.Warn(number, std::move(text));
    }
    if (bare > 0) {
        lint.Warn(0, std::to_wstring(bare) +
                         L" line(s) end with a bare line feed instead of CR LF: Clearon drops the "
                         L"last character of each; save the file with CR LF line ends");
    }
}

// The section rule as each reader applies it, line by line.
void LintSections(LintContext& lint) {
    SectionState state;
    for (std::size_t i = 0; i < lint.keep.size(); ++i) {
        const std::wstring& keep = lint.keep[i];
        const std::wstring& drop = lint.drop[i];
        const std::size_t number = i + 1;
        const SectionState before = state;

        const bool ends = EndsSection(keep);
        if (ends) state.open = {};
        const bool entry = !ends && state.Any() && !IsCommentLine(keep);
        bool opensKnown = false;
        for (std::size_t s = 0; s < kSections.size(); ++s) {
            if (StartsSection(keep, kSections[s].header)) {
                state.open[s] = true;
                opensKnown = true;
            }
        }
        if (EndsSection(drop)) state.settingsForSwitches = false;
        if (StartsSection(drop, kSettingsHeader)) state.settingsForSwitches = true;
        const bool switchLine = state.settingsForSwitches && !IsCommentLine(drop);

        const bool changed = before.open != state.open;
        if (lint.IsCommentForAnyReader(i) && !entry) {
            if (changed) {
                lint.Warn(number,
                          L"this comment still counts for the sections (a line with \"[\" and "
                          L"\"]\" ends a section, one with a header opens it): " +
                              DescribeChange(before, state));
            }
        } else if (ends || opensKnown) {
            if (!LooksLikeHeader(keep)) {
                if (changed) {
                    lint.Warn(number,
                              L"holds \"[\" and \"]\", which make any line a section header "
                              L"to Clearon: " +
                                  DescribeChange(before, state));
                }
            } else if (opensKnown) {
                std::wstring_view header = TrimBlanks(keep);
                if (!header.empty() && header.front() == kByteOrderMark) header.remove_prefix(1);
                lint.Note(number, L"opens " + std::wstring(header));
            } else {
                lint.Note(number, L"section " + Quoted(TrimBlanks(keep)) +
                                      L" is not one of Clearon's: its lines are ignored");
            }
        }

        if (state.settingsForSwitches != state.open[0] &&
            before.settingsForSwitches == before.open[0]) {
            lint.Warn(number,
                      state.settingsForSwitches
                          ? L"the switch scan, which drops every blank first, sees [Settings] "
                            L"open from here, but the readers of LogPath, MessageBoxText, the "
                            L"parameters and the program lines do not"
                          : L"the readers of LogPath, MessageBoxText, the parameters and the "
                            L"program lines see [Settings] open from here, but the switch scan, "
                            L"which drops every blank first, does not");
        }

        if (entry && IsCommentLine(drop)) {
            std::wstring text =
                L"starts with blanks before \";\": only the switch scan takes it "
                L"for a comment; ";
            if (state.open[1]) {
                text += L"in [ProductNames] it is the product name " + Quoted(keep);
            } else if (state.open[2]) {
                text += L"in [UninstallPaths] it is a registry path to scan";
            } else {
                text += L"the lookups of values and the program lists read it";
            }
            lint.Warn(number, std::move(text));
        }

        const bool blank = TrimBlanks(keep).empty();
        if (!blank && !entry && !ends && !opensKnown && !lint.IsCommentForAnyReader(i)) {
            bool holdsSwitch = false;
            for (const FlagSetting& flag : kFlagSettings) {
                holdsSwitch = holdsSwitch || ContainsNoCase(drop, flag.key);
            }
            if (!switchLine) {
                lint.Warn(number, L"is outside any section: Clearon ignores it");
            } else if (!holdsSwitch) {
                lint.Warn(number,
                          L"only the switch scan sees [Settings] here, and the line holds no "
                          L"switch: Clearon ignores it");
            }
        }
        lint.switchLines.push_back(switchLine);
    }
}

}  // namespace clearon::check
