#include "config/config_lines.h"

#include <string>

#include "text/wide_string.h"

namespace clearon {

namespace {

constexpr wchar_t kLineFeed = L'\n';
constexpr wchar_t kSpace = L' ';
constexpr wchar_t kSectionOpen = L'[';
constexpr wchar_t kSectionClose = L']';
constexpr wchar_t kCommentMark = L';';

}  // namespace

void ForEachConfigLine(std::wstring_view config, LineSpaces spaces,
                       const std::function<bool(std::wstring_view line)>& visit) {
    std::wstring line;
    // The walk goes up to and including the terminator: the end of the view,
    // or an embedded character 0, whichever comes first. ConfigText never
    // holds a 0, but a caller's text might, and everything after it is not
    // configuration.
    for (std::size_t i = 0;; ++i) {
        const wchar_t c = i < config.size() ? config[i] : L'\0';
        if (c == L'\0') {
            // The last line keeps every character it has.
            visit(line);
            return;
        }
        if (c == kLineFeed) {
            // Whatever was stored last goes with the line feed: the carriage
            // return of CR LF, but with a bare line feed the line's own last
            // character. Files written that way lose it, as they always have.
            if (!line.empty()) line.pop_back();
            if (!visit(line)) return;
            line.clear();
            continue;
        }
        if (spaces == LineSpaces::Drop && c == kSpace) continue;
        line.push_back(c);
    }
}

bool EndsSection(std::wstring_view line) noexcept {
    return line.find(kSectionOpen) != std::wstring_view::npos &&
           line.find(kSectionClose) != std::wstring_view::npos;
}

bool StartsSection(std::wstring_view line, std::wstring_view header) noexcept {
    return ContainsNoCase(line, header);
}

bool IsCommentLine(std::wstring_view line) noexcept {
    return !line.empty() && line.front() == kCommentMark;
}

void ForEachSectionEntry(std::wstring_view config, std::wstring_view header,
                         const std::function<bool(const SectionEntry& entry)>& visit) {
    bool inside = false;
    std::size_t number = 0;
    ForEachConfigLine(config, LineSpaces::Keep, [&](std::wstring_view line) {
        ++number;
        // A header line first ends the section it stands in and then starts
        // its own; it is never an entry.
        if (EndsSection(line)) {
            inside = false;
        } else if (inside && !IsCommentLine(line)) {
            const SectionEntry entry{line, line.size() > kMaxLineLength, number};
            if (!visit(entry)) return false;
        }
        if (StartsSection(line, header)) inside = true;
        return true;
    });
}

}  // namespace clearon
