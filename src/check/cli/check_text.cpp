#include "check/cli/check_text.h"

#include <cstdint>

#include "text/wide_string.h"

namespace clearon::check {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendUnit(std::wstring& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<wchar_t>(c));
        return;
    }
    c -= 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
}

[[nodiscard]] bool IsHighSurrogate(std::uint32_t u) noexcept {
    return u >= 0xD800 && u <= 0xDBFF;
}
[[nodiscard]] bool IsLowSurrogate(std::uint32_t u) noexcept {
    return u >= 0xDC00 && u <= 0xDFFF;
}

constexpr char kHex[] = "0123456789ABCDEF";

void AppendHexByte(std::wstring& out, unsigned value) {
    out.push_back(static_cast<wchar_t>(kHex[(value >> 4) & 0xF]));
    out.push_back(static_cast<wchar_t>(kHex[value & 0xF]));
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A wchar_t holds one UTF-16 unit; on Linux only its low 16 bits count.
        const std::uint32_t unit = static_cast<std::uint32_t>(text[i]) & 0xFFFF;
        if (IsHighSurrogate(unit) && i + 1 < text.size()) {
            const std::uint32_t next = static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF;
            if (IsLowSurrogate(next)) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (IsHighSurrogate(unit) || IsLowSurrogate(unit)) ? kReplacement : unit);
    }
    return out;
}

std::wstring FromUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            length = 1;
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            c = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            c = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            c = lead & 0x07;
        }
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto follow = static_cast<unsigned char>(text[i + k]);
            if ((follow & 0xC0) != 0x80) valid = false;
            c = (c << 6) | (follow & 0x3F);
        }
        const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) {
            valid = false;
        }
        if (!valid) {
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++i;
            continue;
        }
        AppendUnit(out, c);
        i += length;
    }
    return out;
}

std::wstring Visible(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (const wchar_t c : text) {
        const auto unit = static_cast<std::uint32_t>(c) & 0xFFFF;
        if (unit == L'\t') {
            out.append(L"\\t");
        } else if (unit == L'\r') {
            out.append(L"\\r");
        } else if (unit < 0x20 || unit == 0x7F) {
            out.append(L"\\x");
            AppendHexByte(out, unit);
        } else if (unit >= 0xFF80) {
            // A single byte above 0x7F, sign-extended by Clearon's reading.
            out.append(L"<x");
            AppendHexByte(out, unit & 0xFF);
            out.push_back(L'>');
        } else {
            out.push_back(static_cast<wchar_t>(unit));
        }
    }
    return out;
}

std::wstring_view TrimBlanks(std::wstring_view text) noexcept {
    while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == L' ') text.remove_suffix(1);
    return text;
}

}  // namespace clearon::check
