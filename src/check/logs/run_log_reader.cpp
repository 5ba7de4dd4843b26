#include "check/logs/run_log_reader.h"

#include <algorithm>
#include <array>

#include "check/cli/check_text.h"
#include "log/log_entries.h"
#include "log/log_format.h"

namespace clearon::check {
namespace {

// Looks like single-byte text (ASCII, ANSI, UTF-8) rather than UTF-16 LE: no
// zero byte, where every ASCII character of UTF-16 has one, and printable
// bytes almost throughout.
[[nodiscard]] bool LooksLikeByteText(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t sample = std::min<std::size_t>(bytes.size(), 4096);
    if (sample < 2) return false;
    std::size_t printable = 0;
    for (std::size_t i = 0; i < sample; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == 0) return false;
        if ((b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t' || b >= 0x80)
            ++printable;
    }
    return printable * 10 >= sample * 9;
}

// Whether a timestamped line's message is `entry`, by the entry's shape;
// `field` is set to its field when it is.
[[nodiscard]] bool Matches(const EntryShape& entry, std::wstring_view message,
                           std::wstring_view& field) noexcept {
    const std::wstring_view text = WithoutLineEnd(entry.text);
    // What Clearon left out is known by its first words: a product or line
    // may be left out for a reason this version does not know.
    if (entry.kind == EntryKind::Skipped) return message.starts_with(text);
    // Since the worker's failure is written like every other entry, it may
    // stand behind a timestamp too; older versions wrote it without blanks.
    if (entry.kind == EntryKind::WorkerNotStarted) return TrimBlanks(message) == TrimBlanks(text);
    switch (entry.field) {
        case EntryField::None:
            return message == text;
        case EntryField::After:
            if (!message.starts_with(text)) return false;
            field = message.substr(text.size());
            return true;
        case EntryField::Between: {
            const std::wstring_view end = WithoutLineEnd(entry.end);
            if (!message.starts_with(text) || !message.ends_with(end)) return false;
            // " Aegira is installed." overlaps the two texts: the field is
            // what follows the first, as it stands.
            const std::wstring_view rest = message.substr(text.size());
            field = rest.size() >= end.size() ? rest.substr(0, rest.size() - end.size()) : rest;
            return true;
        }
        case EntryField::AfterEnd: {
            if (!message.starts_with(text)) return false;
            const std::size_t end = message.find(entry.end, text.size());
            if (end != std::wstring_view::npos) field = message.substr(end + entry.end.size());
            return true;
        }
    }
    return false;
}

// Entries a timestamp stands before: all but the untimestamped ones.
[[nodiscard]] constexpr bool Timestamped(const EntryShape& entry) noexcept {
    return entry.kind != EntryKind::ComputerName && entry.kind != EntryKind::UserMessage;
}

// Clearon's own notes (kind Other) are what is left: the table only gives
// their severity.
void ClassifyTimestamped(LogLine& line) noexcept {
    for (const EntryShape& entry : kLogEntries) {
        if (!Timestamped(entry) || entry.kind == EntryKind::Other) continue;
        std::wstring_view field;
        if (Matches(entry, line.message, field)) {
            line.kind = entry.kind;
            line.field = field;
            return;
        }
    }
    line.kind = EntryKind::Other;
}

[[nodiscard]] int SeverityOf(LogSeverity severity, std::wstring_view field) noexcept {
    if (severity == LogSeverity::ByExitCode) {
        severity = field == L"0" ? LogSeverity::Information : LogSeverity::Warning;
    }
    return static_cast<int>(severity);
}

// A kind's severity, which all its entries share.
[[nodiscard]] LogSeverity KindSeverity(EntryKind kind) noexcept {
    for (const EntryShape& entry : kLogEntries) {
        if (entry.kind == kind) return entry.severity;
    }
    return LogSeverity::Information;
}

// A line of no kind a report looks for: one of Clearon's own notes, whose
// entry is the longest text it begins with, or a text of another version,
// whose first words tell.
[[nodiscard]] int GuessSeverity(std::wstring_view message) noexcept {
    const EntryShape* longest = nullptr;
    for (const EntryShape& entry : kLogEntries) {
        const std::wstring_view text = WithoutLineEnd(entry.text);
        if (Timestamped(entry) && message.starts_with(text) &&
            (longest == nullptr || text.size() > WithoutLineEnd(longest->text).size())) {
            longest = &entry;
        }
    }
    if (longest != nullptr) {
        return SeverityOf(longest->severity, message.substr(WithoutLineEnd(longest->text).size()));
    }
    constexpr std::array<std::wstring_view, 5> kWarnings{L" Not ", L" Skipping ", L" Ignored ",
                                                         L" Could not ", L" The "};
    for (const std::wstring_view prefix : kWarnings) {
        if (message.starts_with(prefix)) return static_cast<int>(LogSeverity::Warning);
    }
    return static_cast<int>(LogSeverity::Information);
}

}  // namespace

RunLogReader::RunLogReader(std::span<const std::uint8_t> bytes)
    : bytes_(bytes), singleByteText_(LooksLikeByteText(bytes)) {
    if (bytes_.size() >= 2 && (bytes_[0] | (bytes_[1] << 8)) == kByteOrderMark) {
        byteOrderMark_ = true;
        at_ = 2;
    }
}

bool RunLogReader::Next(LogLine& line) {
    const std::size_t end = bytes_.size() & ~std::size_t{1};  // an odd last byte is no character
    if (at_ >= end) return false;
    const std::uint8_t* const data = bytes_.data();
    std::size_t stop = at_;
    while (stop < end && !(data[stop] == '\n' && data[stop + 1] == 0)) stop += 2;
    buffer_.resize((stop - at_) / 2);
    for (std::size_t i = at_, o = 0; i < stop; i += 2, ++o)
        buffer_[o] = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    line.ended = stop < end;
    at_ = line.ended ? stop + 2 : end;
    std::wstring_view text = buffer_;
    if (line.ended && text.ends_with(L'\r')) text.remove_suffix(1);
    line.text = text;
    ClassifyLine(line);
    return true;
}

void ClassifyLine(LogLine& line) noexcept {
    const std::wstring_view text = line.text;
    line.timestamp = {};
    line.message = text;
    line.field = {};
    if (text.empty()) {
        line.kind = EntryKind::Blank;
        return;
    }
    if (text.size() >= kTimestampLength && IsTimestamp(text.substr(0, kTimestampLength))) {
        line.timestamp = text.substr(0, kTimestampLength);
        line.message = text.substr(kTimestampLength);
    }
    if (line.message.starts_with(kLogComputerName)) {
        // After a timestamp: the run that wrote it ended before its message,
        // and the next run's first line follows directly.
        line.kind = EntryKind::ComputerName;
        line.field = line.message.substr(kLogComputerName.size());
        return;
    }
    if (!line.timestamp.empty()) {
        ClassifyTimestamped(line);
        return;
    }
    line.kind = text == TrimBlanks(WithoutLineEnd(kLogWorkerNotStarted))
                    ? EntryKind::WorkerNotStarted
                    : EntryKind::UserMessage;
}

int CmTraceSeverity(const LogLine& line) noexcept {
    switch (line.kind) {
        case EntryKind::Blank:
            return static_cast<int>(LogSeverity::Information);
        case EntryKind::Other:
            return GuessSeverity(line.message);
        default:
            return SeverityOf(KindSeverity(line.kind), line.field);
    }
}

}  // namespace clearon::check
