#include "check/logs/log_convert.h"

#include <algorithm>
#include <optional>

#include "log/log_format.h"

namespace clearon::check {
namespace {

// The viewer ends an entry's text at the first "]LOG]!>"; a display name or a
// command line from the workstation could hold it and hide the rest of the
// line, so the marker is broken up with a blank.
constexpr std::wstring_view kCmTraceTextEnd = L"]LOG]!>";
constexpr std::wstring_view kCmTraceTextEndShown = L"]LOG] !>";

[[nodiscard]] bool IsComputerNameLine(const LogEntry& entry) noexcept {
    return entry.timestamp.empty() && entry.kind == EntryKind::ComputerName;
}

// "MM/DD/YYYY hh:mm:ss:mmm" -> time="hh:mm:ss.mmm+000" date="MM-DD-YYYY"
[[nodiscard]] std::wstring CmTraceTimeFields(std::wstring_view timestamp) {
    if (timestamp.empty()) return L"time=\"\" date=\"\"";
    std::wstring time(timestamp.substr(11, 8));
    time += L'.';
    time += timestamp.substr(20, 3);
    std::wstring date(timestamp.substr(0, 10));
    std::replace(date.begin(), date.end(), L'/', L'-');
    return L"time=\"" + time + L"+000\" date=\"" + date + L"\"";
}

// The entry's text on one line: control characters (a carriage return inside
// a line, a NUL of a cut file) become blanks, the viewer's end marker is
// broken up. A leading blank, Clearon's separator after the timestamp, goes.
[[nodiscard]] std::wstring CmTraceText(const LogEntry& entry) {
    std::wstring_view message = entry.message;
    if (!entry.timestamp.empty() && message.starts_with(L" ")) message.remove_prefix(1);
    std::wstring text;
    text.reserve(message.size());
    for (const wchar_t c : message) text.push_back(c < 0x20 && c != L'\t' ? L' ' : c);
    for (std::size_t at = text.find(kCmTraceTextEnd); at != std::wstring::npos;
         at = text.find(kCmTraceTextEnd, at + kCmTraceTextEndShown.size())) {
        text.replace(at, kCmTraceTextEnd.size(), kCmTraceTextEndShown);
    }
    return text;
}

}  // namespace

DecodedLog DecodeLog(std::span<const std::uint8_t> bytes) {
    DecodedLog log;
    RunLogReader reader(bytes);
    log.byteText = reader.singleByteText();
    LogLine line;
    while (reader.Next(line)) {
        log.entries.push_back({std::wstring(line.timestamp), std::wstring(line.message), line.kind,
                               CmTraceSeverity(line)});
        if (!line.timestamp.empty() || line.kind == EntryKind::ComputerName) log.clearonLog = true;
    }
    return log;
}

std::wstring FormatLogText(const std::vector<LogEntry>& entries) {
    std::wstring out;
    for (const LogEntry& entry : entries) {
        out += entry.timestamp;
        out += entry.message;
        out += kLineEnd;
    }
    return out;
}

std::wstring FormatCmTrace(const std::vector<LogEntry>& entries) {
    // The nearest timestamp before and after each entry.
    std::vector<std::optional<std::size_t>> before(entries.size());
    std::vector<std::optional<std::size_t>> after(entries.size());
    std::optional<std::size_t> last;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        before[i] = last;
        if (!entries[i].timestamp.empty()) last = i;
    }
    last.reset();
    for (std::size_t i = entries.size(); i-- > 0;) {
        after[i] = last;
        if (!entries[i].timestamp.empty()) last = i;
    }

    std::wstring out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LogEntry& entry = entries[i];
        if (entry.timestamp.empty() && entry.message.empty()) continue;
        std::wstring_view timestamp = entry.timestamp;
        if (timestamp.empty()) {
            const bool takeNext = IsComputerNameLine(entry);
            const std::optional<std::size_t> first = takeNext ? after[i] : before[i];
            const std::optional<std::size_t> second = takeNext ? before[i] : after[i];
            if (first) {
                timestamp = entries[*first].timestamp;
            } else if (second) {
                timestamp = entries[*second].timestamp;
            }
        }
        out += L"<![LOG[";
        out += CmTraceText(entry);
        out += L"]LOG]!><";
        out += CmTraceTimeFields(timestamp);
        out += L" component=\"Clearon\" context=\"\" type=\"";
        out += std::to_wstring(entry.severity);
        out += L"\" thread=\"\" file=\"\">";
        out += kLineEnd;
    }
    return out;
}

}  // namespace clearon::check
