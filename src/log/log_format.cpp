#include "log/log_format.h"

#include <cwchar>
#include <string>

#include "log/log_texts.h"

namespace clearon {

namespace {

constexpr wchar_t kTimestampFormat[] = L"%02d/%02d/%04d %02d:%02d:%02d:%03d";
// Seven integers of at most 11 characters and six separators never fill this,
// so the print is never truncated in a platform-dependent way; the result is
// then held to the timestamp's own width.
constexpr std::size_t kFormatBufferSize = 96;

}  // namespace

std::wstring FormatTimestamp(int month, int day, int year, int hour, int minute, int second,
                             int millisecond) {
    wchar_t buffer[kFormatBufferSize] = {};
    const int written = std::swprintf(buffer, kFormatBufferSize, kTimestampFormat, month, day, year,
                                      hour, minute, second, millisecond);
    if (written <= 0) return {};
    const auto length = static_cast<std::size_t>(written);
    return std::wstring(buffer, length < kTimestampLength ? length : kTimestampLength);
}

std::wstring ErrorLogPath(std::wstring_view exeDirectory) {
    // exeDirectory never ends with a backslash (C:\Tools, or C: for a program
    // at the root of a drive), so the separator is always added.
    std::wstring path(exeDirectory);
    path.push_back(L'\\');
    path.append(kErrorLogName);
    return path;
}

std::wstring UnwrittenEntriesLine(std::uint32_t count) {
    return std::wstring(kLogUnwrittenEntries) + std::to_wstring(count) +
           std::wstring(kLogUnwrittenEntriesEnd);
}

bool IsTimestamp(std::wstring_view text) noexcept {
    constexpr std::wstring_view shape = L"00/00/0000 00:00:00:000";
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = text[i] >= L'0' && text[i] <= L'9';
        if (shape[i] == L'0' ? !digit : text[i] != shape[i]) return false;
    }
    return true;
}

}  // namespace clearon
