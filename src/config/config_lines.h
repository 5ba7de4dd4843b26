// The line rule and the section rule by which every consumer reads
// ConfigText. There is deliberately no parser that builds a tree: each
// consumer walks the text with these two rules, so all of them agree on where
// a line and a section begin and end, quirks included (a bare line feed cuts
// the character before it; a comment holding "[" and "]" still ends a
// section).
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace clearon {

// Line buffers of the consumers hold 255 characters, so a line carries at
// most 254.
inline constexpr std::size_t kLineCapacity = 255;
inline constexpr std::size_t kMaxLineLength = kLineCapacity - 1;

enum class LineSpaces { Keep, Drop };

// Walks `config` by the line rule: a line ends at a line feed, which takes the
// one character stored before it along (the carriage return of CR LF, but
// whatever it is), or at the end of the text, where nothing is removed. With
// LineSpaces::Drop every U+0020 is left out as the line is collected (the
// settings scan), so the character removed at a line feed is then the last
// one that is not a space. `visit` returns false to stop the walk.
void ForEachConfigLine(std::wstring_view config, LineSpaces spaces,
                       const std::function<bool(std::wstring_view line)>& visit);

// Section rule, step 1: a line holding both "[" and "]" ends the section.
[[nodiscard]] bool EndsSection(std::wstring_view line) noexcept;
// Section rule, step 3: a line containing the header text (any case,
// anywhere) starts that section.
[[nodiscard]] bool StartsSection(std::wstring_view line, std::wstring_view header) noexcept;
// Section rule, step 2: a line whose first character is ";" is a comment.
[[nodiscard]] bool IsCommentLine(std::wstring_view line) noexcept;

struct SectionEntry {
    std::wstring_view text;  // the line as the consumer holds it (spaces kept)
    bool tooLong = false;    // longer than kMaxLineLength: must not be used
    std::size_t number = 0;  // the line's number in the text, counted from 1
};

// The common consumer: walks the lines (spaces kept) and, for each, ends the
// section, then hands the line to `visit` when it is inside the section and
// not a comment, then starts the section when the line holds `header`. Lines
// longer than kMaxLineLength still take part in the section rule but come
// with tooLong set: a consumer skips them (and says so in the log) instead of
// acting on a cut line. `visit` returns false to stop the walk.
void ForEachSectionEntry(std::wstring_view config, std::wstring_view header,
                         const std::function<bool(const SectionEntry& entry)>& visit);

inline constexpr std::wstring_view kSettingsHeader = L"[Settings]";
inline constexpr std::wstring_view kProductNamesHeader = L"[ProductNames]";
inline constexpr std::wstring_view kUninstallPathsHeader = L"[UninstallPaths]";

}  // namespace clearon
