// Case-insensitive operations on UTF-16 text.
//
// Every string here holds UTF-16 code units, one per wchar_t (on Linux a
// wchar_t is 32 bits wide but still carries one unit). Case folding maps the
// 26 capitals A-Z to a-z and nothing else: no locale is ever consulted, so an
// accented capital matches only itself, exactly as on every Windows machine
// the tool meets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace clearon {

// Largest text that ReplaceNoCase produces (its result buffer holds this many
// characters plus the terminator).
inline constexpr std::size_t kReplaceCapacity = 511;

// Setting strings and messages are 255-character fields: 254 characters and a
// terminator.
inline constexpr std::size_t kFieldCapacity = 255;
inline constexpr std::size_t kMaxFieldLength = kFieldCapacity - 1;

[[nodiscard]] constexpr wchar_t FoldAscii(wchar_t c) noexcept {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

// Position of the first occurrence of `pattern` in `text` at or after `from`,
// ignoring the case of A-Z; std::wstring_view::npos when there is none. An
// empty pattern occurs at `from` (when from <= text.size()).
[[nodiscard]] std::size_t FindNoCase(std::wstring_view text, std::wstring_view pattern,
                                     std::size_t from = 0) noexcept;

// True when `pattern` occurs anywhere in `text`, ignoring the case of A-Z.
// An empty pattern occurs in every text, the empty text included.
[[nodiscard]] bool ContainsNoCase(std::wstring_view text, std::wstring_view pattern) noexcept;

// True when both texts are equal, ignoring the case of A-Z.
[[nodiscard]] bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept;

// Replaces every occurrence of `search` (ignoring the case of A-Z) by
// `replacement`, searching again from the start after each replacement, so an
// occurrence that a replacement creates with its neighbours is replaced too.
//
// Returns the empty text when the replacement itself contains the search text
// (the loop would never end; this covers an empty search text too), and when
// the text or any intermediate result would exceed kReplaceCapacity
// characters (or after an absurd number of steps): a cut command line or path could name something
// else, so an oversized result is refused rather than cut. Replacements that regrow the search text
// without end therefore stop at the capacity and yield the empty text.
[[nodiscard]] std::wstring ReplaceNoCase(std::wstring_view text, std::wstring_view search,
                                         std::wstring_view replacement);

// Length of `text` counted up to `bound` characters (the data model's way of
// measuring a name in a fixed buffer).
[[nodiscard]] constexpr std::size_t BoundedLength(std::wstring_view text,
                                                  std::size_t bound) noexcept {
    return text.size() < bound ? text.size() : bound;
}

// Text from outside (a display name or command from the registry) made safe
// for a log line: every control character (below U+0020, and U+007F) is
// written as "<" + two upper-case hex digits + ">", so a CR or LF in it can
// never start a forged line of its own.
[[nodiscard]] std::wstring VisibleText(std::wstring_view text);

// The form of a directory to hand to SetCurrentDirectoryW or a free-space
// query: a bare drive "C:" becomes "C:\". On its own, "C:" means the current
// folder of drive C, which is not where an executable at C:\Clearon.exe lies.
[[nodiscard]] std::wstring AsDirectoryPath(std::wstring_view directory);

}  // namespace clearon
