// ClearonCheck log: a run log (UTF-16 LE, as Clearon appends it) as text an
// administrator's tools read: plain lines (printed as UTF-8), or the line
// format of Configuration Manager's log viewer (CMTrace), where each entry is
// one line of the form
//   <![LOG[message]LOG]!><time="hh:mm:ss.mmm+000" date="MM-DD-YYYY"
//   component="Clearon" context="" type="1" thread="" file="">
// and type 1, 2 and 3 show as information, warning and error.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/logs/run_log_reader.h"

namespace clearon::check {

struct LogEntry {
    std::wstring timestamp;  // "MM/DD/YYYY hh:mm:ss:mmm" as logged; empty when the line has none
    std::wstring message;    // the rest of the line, without its line end
    EntryKind kind = EntryKind::Other;
    int severity = 1;  // CMTrace's type, from the kind
};

struct DecodedLog {
    std::vector<LogEntry> entries;
    bool clearonLog = false;  // at least one computer-name or timestamped line
    bool byteText = false;    // single-byte text (ASCII, ANSI, UTF-8), not UTF-16 LE
};

// The log's lines, as RunLogReader reads them.
[[nodiscard]] DecodedLog DecodeLog(std::span<const std::uint8_t> bytes);

// The lines as they stand in the file. Every line of the result ends with
// CR LF, as the Windows text files it is meant for (written through a
// redirect of a stdout in binary mode).
[[nodiscard]] std::wstring FormatLogText(const std::vector<LogEntry>& entries);

// One CMTrace line per entry, each ending with CR LF. The time is the
// workstation's local time as logged (the log holds no time zone, so the
// offset is written as +000). A line without a timestamp takes the nearest
// one: a computer-name line the next (it is written just before its run's
// start line), any other line the one before it.
[[nodiscard]] std::wstring FormatCmTrace(const std::vector<LogEntry>& entries);

}  // namespace clearon::check
