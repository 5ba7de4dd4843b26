// Every entry of the run log's table, written as Clearon writes it, reads
// back as its own kind, with its field and its CMTrace severity: a text
// that another entry's shape swallowed, or a field cut at the wrong place,
// would change what report, result and log make of a run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/logs/run_log_reader.h"
#include "log/log_entries.h"
#include "support/host/memory_registry.h"

namespace clearon::check {
namespace {

TEST(RunLogReader, EveryEntryReadsBackAsItsKind) {
    constexpr std::wstring_view kTimestamp = L"12/07/2026 21:58:04:250";
    constexpr std::wstring_view kField = L"7";
    for (const EntryShape& entry : kLogEntries) {
        const bool timestamped =
            entry.kind != EntryKind::ComputerName && entry.kind != EntryKind::UserMessage;
        std::wstring line(timestamped ? kTimestamp : L"");
        line += WithoutLineEnd(entry.text);
        if (entry.field == EntryField::AfterEnd) line += L"S-1-5-11" + std::wstring(entry.end);
        if (entry.field != EntryField::None) line += kField;
        if (entry.field == EntryField::Between) line += WithoutLineEnd(entry.end);
        SCOPED_TRACE(std::string(line.begin(), line.end()));
        const std::vector<std::uint8_t> bytes = clearon::test::Utf16Bytes(line + L"\r\n");

        RunLogReader reader(bytes);
        LogLine read;
        ASSERT_TRUE(reader.Next(read));
        EXPECT_EQ(read.kind, entry.kind);
        // The reader keeps no field of what Clearon left out, nor of its own
        // notes, which no report looks into.
        const bool keepsField = entry.field != EntryField::None &&
                                entry.kind != EntryKind::Skipped && entry.kind != EntryKind::Other;
        EXPECT_EQ(read.field, keepsField ? kField : L"");
        // An exit code other than 0 is a warning.
        const LogSeverity severity =
            entry.severity == LogSeverity::ByExitCode ? LogSeverity::Warning : entry.severity;
        EXPECT_EQ(CmTraceSeverity(read), static_cast<int>(severity));
        EXPECT_FALSE(reader.Next(read));
    }
}

}  // namespace
}  // namespace clearon::check
