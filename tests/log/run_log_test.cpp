// The run log's writer over files whose opens and writes fail on demand.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "log/log_format.h"
#include "log/log_texts.h"
#include "log/run_log.h"

namespace clearon {
namespace {

class FakeLogFiles final : public LogFiles {
public:
    std::deque<LogOpen> opens;  // outcomes of the next opens; Opened when empty
    std::deque<bool> writes;    // outcomes of the next run-log writes; true when empty
    bool network = false;
    bool open = false;
    int openCount = 0;
    std::wstring runLog;
    std::wstring errorLog;

    LogOpen OpenRunLog(std::wstring& finalPath) override {
        ++openCount;
        const LogOpen outcome = Next(opens, LogOpen::Opened);
        if (outcome == LogOpen::Moved) finalPath = L"D:\\elsewhere\\x.log";
        open = outcome == LogOpen::Opened;
        return outcome;
    }
    bool WriteRunLog(std::wstring_view text) override {
        EXPECT_TRUE(open) << "a write without an open handle";
        if (!Next(writes, true)) return false;
        runLog += text;
        return true;
    }
    void CloseRunLog() override { open = false; }
    bool RunLogOnNetwork() override { return network; }
    bool AppendToErrorLog(std::wstring_view text) override {
        errorLog += text;
        return true;
    }
    std::wstring Timestamp() override { return L"T"; }

private:
    template <typename T>
    static T Next(std::deque<T>& queue, T otherwise) {
        if (queue.empty()) return otherwise;
        const T value = queue.front();
        queue.pop_front();
        return value;
    }
};

TEST(RunLogWriter, EachEntryReachesOneLogAndFailedWritesAreCounted) {
    const std::wstring refused = L"T" + std::wstring(kLogRefusedLinkedLog);
    const std::wstring moved = L"T" + std::wstring(kLogRefusedMovedLog) + L"D:\\elsewhere\\x.log" +
                               std::wstring(kLogRefusedMovedLogEnd);
    struct Case {
        const char* what;
        bool hold;
        bool network;
        bool hasPath;
        std::deque<LogOpen> opens;
        std::deque<bool> writes;
        std::wstring runLog;
        std::wstring errorLog;
        int openCount;
        std::uint32_t unwritten;
    };
    using enum LogOpen;
    // clang-format off
    const Case cases[] = {
        {"held: one open for the run", true, false, true, {}, {}, L"abc", L"", 1, 0},
        {"held, a full disk: to the error log, counted, no reopen", true, false, true, {},
         {true, false}, L"ac", L"b", 1, 1},
        {"held on a network: reopened once, nothing lost", true, true, true, {},
         {true, false}, L"abc", L"", 2, 0},
        {"held on a network: one reopen per run", true, true, true, {},
         {false, false, false, false}, L"", L"abc", 2, 3},
        {"held on a network, the reopen fails: short opens from then on", true, true, true,
         {Opened, Failed}, {false}, L"bc", L"a", 4, 1},
        {"not held: an open per entry; a failed open is no failed write", false, false, true,
         {Failed}, {}, L"bc", L"a", 3, 0},
        {"not held: a short write counts", false, false, true, {}, {true, false}, L"ac", L"b",
         3, 1},
        {"a refused log is named once", true, false, true,
         {Refused, Refused, Refused, Refused}, {}, L"", refused + L"abc", 4, 0},
        {"a log a link moved is named once, with where it led", true, false, true,
         {Moved, Moved, Moved, Moved}, {}, L"", moved + L"abc", 4, 0},
        {"no path: every entry to the error log", true, false, false, {}, {}, L"", L"abc", 1, 0},
    };
    // clang-format on
    for (const Case& c : cases) {
        FakeLogFiles files;
        files.opens = c.opens;
        files.writes = c.writes;
        files.network = c.network;
        RunLogWriter writer(files);
        if (c.hold) writer.Hold();
        for (const wchar_t* entry : {L"a", L"b", L"c"}) writer.Append(entry, c.hasPath);
        EXPECT_EQ(files.runLog, c.runLog) << c.what;
        EXPECT_EQ(files.errorLog, c.errorLog) << c.what;
        EXPECT_EQ(files.openCount, c.openCount) << c.what;
        EXPECT_EQ(writer.unwrittenEntries(), c.unwritten) << c.what;
    }
}

TEST(DosPathOf, FinalPathsReadAsTheyAreWritten) {
    const struct {
        const wchar_t* finalPath;
        const wchar_t* written;
    } cases[] = {
        {L"\\\\?\\C:\\Logs\\x.log", L"C:\\Logs\\x.log"},
        {L"\\\\?\\UNC\\srv\\share\\x.log", L"\\\\srv\\share\\x.log"},
        {L"C:\\Logs\\x.log", L"C:\\Logs\\x.log"},
        {L"\\\\?\\", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(DosPathOf(c.finalPath), c.written) << c.written;
    EXPECT_EQ(UnwrittenEntriesLine(3),
              std::wstring(kLogUnwrittenEntries) + L"3" + std::wstring(kLogUnwrittenEntriesEnd));
}

}  // namespace
}  // namespace clearon
