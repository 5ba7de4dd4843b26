#include "text/wide_string.h"

namespace clearon {

std::size_t FindNoCase(std::wstring_view text, std::wstring_view pattern,
                       std::size_t from) noexcept {
    if (from > text.size()) return std::wstring_view::npos;
    if (pattern.size() > text.size() - from)
        return pattern.empty() ? from : std::wstring_view::npos;
    const std::size_t last = text.size() - pattern.size();
    for (std::size_t i = from; i <= last; ++i) {
        std::size_t k = 0;
        while (k < pattern.size() && FoldAscii(text[i + k]) == FoldAscii(pattern[k])) ++k;
        if (k == pattern.size()) return i;
    }
    return std::wstring_view::npos;
}

bool ContainsNoCase(std::wstring_view text, std::wstring_view pattern) noexcept {
    return FindNoCase(text, pattern) != std::wstring_view::npos;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept {
    return a.size() == b.size() && FindNoCase(a, b) == 0;
}

std::wstring ReplaceNoCase(std::wstring_view text, std::wstring_view search,
                           std::wstring_view replacement) {
    if (ContainsNoCase(replacement, search)) return {};
    if (text.size() > kReplaceCapacity) return {};

    // Growing replacements end at the capacity and shrinking ones when the
    // text runs out; the step bound also ends any same-length rewrite that
    // could turn in a circle.
    constexpr int kMaxSteps = 4096;
    std::wstring result(text);
    for (int step = 0; step < kMaxSteps; ++step) {
        const std::size_t at = FindNoCase(result, search);
        if (at == std::wstring::npos) return result;
        if (result.size() - search.size() + replacement.size() > kReplaceCapacity) return {};
        result.replace(at, search.size(), replacement);
    }
    return {};
}

std::wstring VisibleText(std::wstring_view text) {
    constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring visible;
    visible.reserve(text.size());
    for (wchar_t c : text) {
        if (c >= 0x20 && c != 0x7F) {
            visible.push_back(c);
            continue;
        }
        visible.push_back(L'<');
        visible.push_back(kHex[(c >> 4) & 0xF]);
        visible.push_back(kHex[c & 0xF]);
        visible.push_back(L'>');
    }
    return visible;
}

std::wstring AsDirectoryPath(std::wstring_view directory) {
    std::wstring path(directory);
    if (path.size() == 2 && path[1] == L':') path.push_back(L'\\');
    return path;
}

}  // namespace clearon
