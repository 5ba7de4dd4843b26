#include "check/lint/lint_context.h"

#include <algorithm>

#include "check/cli/check_text.h"
#include "config/config_lines.h"

namespace clearon::check {
namespace {

constexpr wchar_t kLineFeed = L'\n';
constexpr wchar_t kEquals = L'=';
constexpr wchar_t kFirstSignExtended = static_cast<wchar_t>(0xFF80);

[[nodiscard]] std::vector<RawLine> SplitRawLines(std::wstring_view text) {
    std::vector<RawLine> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t feed = text.find(kLineFeed, start);
        if (feed == std::wstring_view::npos) {
            lines.push_back({text.substr(start), false});
            return lines;
        }
        lines.push_back({text.substr(start, feed - start), true});
        start = feed + 1;
    }
}

[[nodiscard]] std::vector<std::wstring> ConsumerLines(std::wstring_view text, LineSpaces spaces) {
    std::vector<std::wstring> lines;
    ForEachConfigLine(text, spaces, [&](std::wstring_view line) {
        lines.emplace_back(line);
        return true;
    });
    return lines;
}

}  // namespace

LintContext::LintContext(std::wstring_view configText, const LintOptions& lintOptions,
                         LintResult& lintResult)
    : text(configText),
      options(lintOptions),
      result(lintResult),
      raw(SplitRawLines(configText)),
      keep(ConsumerLines(configText, LineSpaces::Keep)),
      drop(ConsumerLines(configText, LineSpaces::Drop)) {
    result.lineCount = keep.size();
    (void)ReadSettings(text, result.settings);
}

std::vector<LintEntry> SectionEntries(std::wstring_view text, std::wstring_view header) {
    std::vector<LintEntry> entries;
    ForEachSectionEntry(text, header, [&](const SectionEntry& entry) {
        entries.push_back({std::wstring(entry.text), entry.number, entry.tooLong});
        return true;
    });
    return entries;
}

bool LintContext::IsCommentForAnyReader(std::size_t index) const {
    return IsCommentLine(keep[index]) || IsCommentLine(drop[index]);
}

std::wstring Quoted(std::wstring_view text) {
    std::wstring quoted(L"\"");
    quoted.append(Visible(text));
    quoted.push_back(L'"');
    return quoted;
}

std::wstring_view OnOff(bool value) noexcept {
    return value ? L"Y" : L"N";
}

std::wstring_view KeyPart(std::wstring_view line) noexcept {
    return TrimBlanks(line.substr(0, std::min(line.find(kEquals), line.size())));
}

bool HasSignExtended(std::wstring_view text) noexcept {
    return std::any_of(text.begin(), text.end(), [](wchar_t c) {
        return (static_cast<unsigned>(c) & 0xFFFF) >= kFirstSignExtended;
    });
}

bool LooksLikeUtf8(std::wstring_view text) noexcept {
    std::size_t sequences = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned lead = static_cast<unsigned>(text[i]) & 0xFFFF;
        if (lead < kFirstSignExtended) continue;
        const unsigned byte = lead & 0xFF;
        std::size_t follows = 0;
        if ((byte & 0xE0) == 0xC0)
            follows = 1;
        else if ((byte & 0xF0) == 0xE0)
            follows = 2;
        else if ((byte & 0xF8) == 0xF0)
            follows = 3;
        else
            return false;
        for (std::size_t k = 1; k <= follows; ++k) {
            if (i + k >= text.size()) return false;
            const unsigned next = static_cast<unsigned>(text[i + k]) & 0xFFFF;
            if (next < kFirstSignExtended || ((next & 0xFF) & 0xC0) != 0x80) return false;
        }
        i += follows;
        ++sequences;
    }
    return sequences > 0;
}

}  // namespace clearon::check
