#include "check/log_convert.h"

#include <algorithm>
#include <array>
#include <optional>

#include "check/check_text.h"
#include "log/log_format.h"
#include "removal/command_line.h"
#include "removal/product_discovery.h"
#include "removal/uninstall_command.h"
#include "resume/reboot_resume.h"

namespace clearon::check {
namespace {

constexpr int kTypeInformation = 1;
constexpr int kTypeWarning = 2;
constexpr int kTypeError = 3;

// The viewer ends an entry's text at the first "]LOG]!>"; a display name or a
// command line from the workstation could hold it and hide the rest of the
// line, so the marker is broken up with a blank.
constexpr std::wstring_view kCmTraceTextEnd = L"]LOG]!>";
constexpr std::wstring_view kCmTraceTextEndShown = L"]LOG] !>";

// A log text constant as it stands in a line: without its closing line end.
[[nodiscard]] std::wstring_view WithoutLineEnd(std::wstring_view text) noexcept {
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.remove_suffix(1);
    return text;
}

// Single-byte text (ASCII, ANSI, UTF-8) rather than UTF-16 LE: no zero byte
// in the first 4 KiB, where the high byte of every ASCII letter in UTF-16 is 0.
[[nodiscard]] bool LooksLikeByteText(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t sample = std::min<std::size_t>(bytes.size(), 4096);
    return sample >= 2 &&
           std::find(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sample),
                     std::uint8_t{0}) == bytes.begin() + static_cast<std::ptrdiff_t>(sample);
}

[[nodiscard]] LogEntry SplitLine(std::wstring_view line) {
    if (line.size() >= kTimestampLength && IsTimestamp(line.substr(0, kTimestampLength))) {
        return {std::wstring(line.substr(0, kTimestampLength)),
                std::wstring(line.substr(kTimestampLength))};
    }
    return {{}, std::wstring(line)};
}

[[nodiscard]] bool IsComputerNameLine(const LogEntry& entry) noexcept {
    return entry.timestamp.empty() && entry.message.starts_with(kLogComputerName);
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
    log.byteText = LooksLikeByteText(bytes);
    std::wstring text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    std::wstring_view rest = text;
    if (!rest.empty() && rest.front() == kByteOrderMark) rest.remove_prefix(1);
    while (!rest.empty()) {
        const std::size_t end = rest.find(L'\n');
        std::wstring_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        log.entries.push_back(SplitLine(line));
        const LogEntry& entry = log.entries.back();
        if (!entry.timestamp.empty() || IsComputerNameLine(entry)) log.clearonLog = true;
        if (end == std::wstring_view::npos) break;
        rest.remove_prefix(end + 1);
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

int CmTraceType(const LogEntry& entry) noexcept {
    const std::wstring_view message = entry.message;
    if (entry.timestamp.empty()) {
        if (IsComputerNameLine(entry)) return kTypeInformation;
        // A message Clearon put before the user (a refused configuration,
        // too little disk space), or the note that the worker never started.
        return kTypeWarning;
    }
    constexpr std::array kErrors{kLogFailedToRemove, kLogFailedToLaunch, kLogFailedUserRunOnce,
                                 kLogFailedMachineRunOnce, kLogResumeCommandRefused};
    for (const std::wstring_view prefix : kErrors) {
        if (message.starts_with(WithoutLineEnd(prefix))) return kTypeError;
    }
    if (message.starts_with(kLogExitCode)) {
        return message.substr(kLogExitCode.size()) == L"0" ? kTypeInformation : kTypeWarning;
    }
    // Skipped lines, commands and products, ignored settings, a check that
    // could not be made, a log path that does not fit: each starts with one
    // of these words.
    constexpr std::array kWarnings{kLogUserDeclined,
                                   kLogAegiraNotInstalled,
                                   std::wstring_view(L" Not "),
                                   std::wstring_view(L" Skipping "),
                                   std::wstring_view(L" Ignored "),
                                   std::wstring_view(L" Could not "),
                                   std::wstring_view(L" The ")};
    for (const std::wstring_view prefix : kWarnings) {
        if (message.starts_with(WithoutLineEnd(prefix))) return kTypeWarning;
    }
    return kTypeInformation;
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
        out += std::to_wstring(CmTraceType(entry));
        out += L"\" thread=\"\" file=\"\">";
        out += kLineEnd;
    }
    return out;
}

}  // namespace clearon::check
