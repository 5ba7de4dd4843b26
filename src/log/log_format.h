// The run log's form, which needs no Windows: the timestamp, the line end,
// the error log's name. Its texts are in log_texts.h.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The line before the stop line of a run that could not write every entry
// to its run log: kLogUnwrittenEntries, the number, kLogUnwrittenEntriesEnd.
[[nodiscard]] std::wstring UnwrittenEntriesLine(std::uint32_t count);

// Both executables end with this code when an unexpected error (such as
// running out of memory) reaches their entry point: Windows'
// ERROR_INTERNAL_ERROR. Clearon logs kLogEndedByUnexpectedError first
// (without a stop line: the run did not finish).
inline constexpr int kExitUnexpectedError = 1359;

// Where a reported message goes besides the log: a box for the person at
// the screen, standard output in a silent run, or nowhere else when nobody
// can see a box (it would wait for ever for an answer).
enum class MessageSink { Box, StandardOutput, LogOnly };

// The error log beside the executable: exeDirectory + "\Clearon_Err.log".
[[nodiscard]] std::wstring ErrorLogPath(std::wstring_view exeDirectory);

}  // namespace clearon
