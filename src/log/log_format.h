// Texts of the run log that do not need Windows: the timestamp format and
// the fixed log lines, each defined once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace clearon {

// "%02d/%02d/%04d %02d:%02d:%02d:%03d": month, day, year, hour (0-23),
// minute, second, millisecond; always 23 characters for real clock values.
inline constexpr std::size_t kTimestampLength = 23;
[[nodiscard]] std::wstring FormatTimestamp(int month, int day, int year, int hour, int minute,
                                           int second, int millisecond);
// True when `text` has the timestamp's shape, "MM/DD/YYYY hh:mm:ss:mmm":
// what a reader of the log takes for the start of a timestamped entry.
[[nodiscard]] bool IsTimestamp(std::wstring_view text) noexcept;

inline constexpr std::wstring_view kErrorLogName = L"Clearon_Err.log";
inline constexpr std::wstring_view kLineEnd = L"\r\n";
inline constexpr std::wstring_view kLogStarting = L" Clearon starting!\r\n";
inline constexpr std::wstring_view kLogStopping = L" Clearon stopping!\r\n";
inline constexpr std::wstring_view kLogComputerName = L"Computer Name: ";
// Follows the start line once per run; the number comes from the build.
inline constexpr std::wstring_view kLogVersion = L" Clearon version " CLEARON_VERSION_TEXT L"\r\n";

// Where a reported message goes besides the log: a box for the person at
// the screen, standard output in a silent run, or nowhere else when nobody
// can see a box (it would wait for ever for an answer).
enum class MessageSink { Box, StandardOutput, LogOnly };

// The error log beside the executable: exeDirectory + "\Clearon_Err.log".
[[nodiscard]] std::wstring ErrorLogPath(std::wstring_view exeDirectory);

}  // namespace clearon
