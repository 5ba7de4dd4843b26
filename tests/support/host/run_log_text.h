// Run logs as Clearon writes them, for the host tests of ClearonCheck:
// UTF-16 LE bytes, and a timestamped line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace clearon::test {

inline std::vector<std::uint8_t> Utf16(std::wstring_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

// A log line: the timestamp (second `second` of a fixed minute), then the
// message and the line end.
inline std::wstring At(int second, std::wstring_view message) {
    std::wstring stamp = L"07/04/2026 09:05:";
    stamp += (second < 10 ? L"0" : L"") + std::to_wstring(second) + L":007";
    return stamp + std::wstring(message) + L"\r\n";
}

}  // namespace clearon::test
