// Text helpers of ClearonCheck: how the UTF-16 texts Clearon works with are
// shown to the administrator, on a console or in a file.
#pragma once

#include <string>
#include <string_view>

namespace clearon::check {

// A UTF-16 byte-order mark: Clearon reads one at the start of Clearon.ini and
// never writes one to its log.
inline constexpr wchar_t kByteOrderMark = static_cast<wchar_t>(0xFEFF);

// UTF-8 bytes of UTF-16 text (one unit per wchar_t). A lone surrogate, which
// has no UTF-8 form, becomes U+FFFD.
[[nodiscard]] std::string ToUtf8(std::wstring_view text);

// UTF-16 units of UTF-8 text (command-line arguments on Linux). Invalid bytes
// become U+FFFD.
[[nodiscard]] std::wstring FromUtf8(std::string_view text);

// A configuration text as a person should see it: tabs, carriage returns and
// other control characters as \t, \r, \xNN, and the characters
// U+FF80..U+FFFF that Clearon makes of single bytes above 0x7F as <xNN>, the
// byte they came from.
[[nodiscard]] std::wstring Visible(std::wstring_view text);

// The text without the blanks (U+0020) at its start and end.
[[nodiscard]] std::wstring_view TrimBlanks(std::wstring_view text) noexcept;

}  // namespace clearon::check
