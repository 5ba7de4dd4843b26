// Writes a run log as Clearon does, then reads it back: any sequence of
// entries Clearon can write (a timestamp and any entry of the log's table
// in src/log with any field text, the computer-name line, a message put
// before the user, the worker failure with the bare LF of older versions)
// must read back as the same entries, with the same kind, timestamp and
// field, through the line reader and the `log` converter alike. The bytes
// only choose the entries. And a run whose last word on some product is
// " Failed to remove " never maps to done, whatever came before or after it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "check/cli/check_text.h"
#include "check/logs/log_convert.h"
#include "check/logs/log_report.h"
#include "check/logs/run_outcome.h"
#include "check/logs/run_log_reader.h"
#include "log/log_entries.h"
#include "log/log_format.h"

namespace {

using namespace clearon;
using namespace clearon::check;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

class Choices {
public:
    Choices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    [[nodiscard]] bool empty() const { return at_ >= size_; }
    [[nodiscard]] unsigned Next(unsigned range) { return empty() ? 0 : data_[at_++] % range; }
    // Any text but a line feed, the one character that ends an entry.
    [[nodiscard]] std::wstring Text() {
        std::wstring text(Next(24), L'x');
        for (wchar_t& c : text) {
            const unsigned pick = Next(8);
            c = pick == 0   ? L'\r'
                : pick == 1 ? static_cast<wchar_t>(0xD800 + Next(256))  // a lone surrogate
                : pick == 2 ? static_cast<wchar_t>(0x100 + Next(200) * 0x100)
                            : static_cast<wchar_t>(0x20 + Next(0x5F));
        }
        return text;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Every timestamped entry of the run log's table, written with any field.
[[nodiscard]] const EntryShape& ChooseEntry(Choices& choose) {
    static const std::vector<EntryShape> timestamped = [] {
        std::vector<EntryShape> entries;
        for (const EntryShape& entry : kLogEntries) {
            if (entry.kind != EntryKind::ComputerName && entry.kind != EntryKind::UserMessage)
                entries.push_back(entry);
        }
        return entries;
    }();
    return timestamped[choose.Next(static_cast<unsigned>(timestamped.size()))];
}

struct Written {
    std::wstring timestamp;
    EntryKind kind;
    std::wstring field;
    std::wstring line;  // as the converter shows it: without its line end
};

// For each run, as the report splits the log into runs: does some product's
// last verdict in it read " Failed to remove "?
[[nodiscard]] std::vector<bool> RunsEndingWithAFailure(const std::vector<Written>& entries) {
    std::vector<bool> runs;
    std::map<std::wstring, bool> lastFailed;
    const auto close = [&] {
        if (runs.empty()) return;
        for (const auto& [name, failed] : lastFailed) runs.back() = runs.back() || failed;
        lastFailed.clear();
    };
    bool awaitingStart = false;
    for (const Written& entry : entries) {
        if (entry.kind == EntryKind::ComputerName ||
            (entry.kind == EntryKind::Starting && (runs.empty() || !awaitingStart))) {
            close();
            runs.push_back(false);
            awaitingStart = entry.kind == EntryKind::ComputerName;
            continue;
        }
        if (!entry.timestamp.empty()) awaitingStart = false;
        if (runs.empty()) continue;  // before the first run
        if (entry.kind == EntryKind::Removing) lastFailed[entry.field] = false;
        if (entry.kind == EntryKind::FailedToRemove) lastFailed[entry.field] = true;
    }
    close();
    return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Choices choose(data, size);
    std::vector<Written> entries;
    std::wstring log;
    while (!choose.empty() && entries.size() < 64) {
        Written entry;
        std::wstring_view ending = kLineEnd;
        switch (choose.Next(8)) {
            case 0:
                entry.kind = EntryKind::ComputerName;
                entry.field = choose.Text();
                entry.line = std::wstring(kLogComputerName) + entry.field;
                break;
            case 1: {
                // A message put before the user: any text that does not
                // read as one of the other entries.
                entry.kind = EntryKind::UserMessage;
                entry.line = L"!" + choose.Text();
                break;
            }
            case 2:
                entry.kind = EntryKind::WorkerNotStarted;
                // As older versions wrote it: no timestamp, no blank.
                entry.line = TrimBlanks(WithoutLineEnd(kLogWorkerNotStarted));
                if (choose.Next(2) == 0) ending = L"\n";
                break;
            default: {
                const EntryShape& shape = ChooseEntry(choose);
                entry.timestamp = FormatTimestamp(
                    1 + choose.Next(12), 1 + choose.Next(31), 2000 + choose.Next(99),
                    choose.Next(24), choose.Next(60), choose.Next(60), choose.Next(1000));
                entry.kind = shape.kind;
                entry.line = entry.timestamp + std::wstring(WithoutLineEnd(shape.text));
                if (shape.field == EntryField::None) break;
                entry.field = choose.Text();
                // Who may change the program stands before the end; the
                // command line after it.
                if (shape.field == EntryField::AfterEnd)
                    entry.line += L"S-1-5-11" + std::wstring(shape.end);
                entry.line += entry.field;
                if (shape.field == EntryField::Between) entry.line += WithoutLineEnd(shape.end);
                break;
            }
        }
        log += entry.line;
        log += ending;
        entries.push_back(std::move(entry));
    }
    std::vector<std::uint8_t> bytes;
    for (const wchar_t c : log) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }

    RunLogReader reader(bytes);
    Require(!reader.singleByteText() || entries.empty());
    LogLine line;
    for (const Written& entry : entries) {
        Require(reader.Next(line));
        Require(line.ended);
        Require(line.kind == entry.kind);
        Require(line.timestamp == entry.timestamp);
        Require(line.text == entry.line);
        // The reader keeps no field of what Clearon left out nor of its own
        // notes.
        if (entry.kind != EntryKind::UserMessage && entry.kind != EntryKind::Skipped &&
            entry.kind != EntryKind::Other)
            Require(line.field == entry.field);
    }
    Require(!reader.Next(line));

    const std::vector<bool> endsFailed = RunsEndingWithAFailure(entries);
    const LogFileReport report = ReadRunLog(L"Clearon.FUZZ.log", bytes);
    Require(report.runs.size() == endsFailed.size());
    for (std::size_t i = 0; i < report.runs.size(); ++i) {
        if (!endsFailed[i]) continue;
        Require(!report.runs[i].failed.empty());
        Require(MapRunOutcome(&report.runs[i], std::nullopt).kind != OutcomeKind::Done);
        Require(MapRunOutcome(&report.runs[i], 0).kind != OutcomeKind::Done);
    }

    const DecodedLog decoded = DecodeLog(bytes);
    Require(decoded.entries.size() == entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Require(decoded.entries[i].timestamp + decoded.entries[i].message == entries[i].line);
        Require(decoded.entries[i].kind == entries[i].kind);
    }
    return 0;
}
