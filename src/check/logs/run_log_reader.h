// The run log read back one line at a time: the one reader under report,
// result, deploy and log. Clearon appends UTF-16 LE without a byte-order
// mark, each entry ending with CR LF; older versions ended the entry of a
// worker that could not start with a bare LF, so a bare LF ends a line too.
// A file cut at any byte reads without failing: an odd last byte is dropped,
// a last line without its line end is marked as such.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "log/log_entries.h"

namespace clearon::check {

struct LogLine {
    std::wstring_view text;       // the whole line, without its line end
    std::wstring_view timestamp;  // "MM/DD/YYYY hh:mm:ss:mmm"; empty when the line has none
    std::wstring_view message;    // the rest of the line
    // The entry's own field: the computer, product, command line, exit code
    // or Aegira's version; empty for entries without one.
    std::wstring_view field;
    EntryKind kind = EntryKind::Blank;
    bool ended = false;  // false: the file ends inside this line
};

class RunLogReader {
public:
    explicit RunLogReader(std::span<const std::uint8_t> bytes);

    // The next line, or false at the end. The views in `line` stay valid
    // until the next call.
    [[nodiscard]] bool Next(LogLine& line);

    [[nodiscard]] bool byteOrderMark() const noexcept { return byteOrderMark_; }
    [[nodiscard]] bool oddByteCount() const noexcept { return bytes_.size() % 2 != 0; }
    // Single-byte text (ASCII, ANSI, UTF-8) rather than UTF-16 LE: decided
    // once, from the first 4 KiB.
    [[nodiscard]] bool singleByteText() const noexcept { return singleByteText_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;  // the next byte
    bool byteOrderMark_ = false;
    bool singleByteText_ = false;
    std::wstring buffer_;
};

// Sorts one line: its timestamp, kind and field.
void ClassifyLine(LogLine& line) noexcept;

// CMTrace severity: 3 error, 2 warning, 1 information.
[[nodiscard]] int CmTraceSeverity(const LogLine& line) noexcept;

}  // namespace clearon::check
