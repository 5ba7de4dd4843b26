// ClearonCheck report's output, written a run at a time: each row goes out
// as its run is read, so the memory a report needs follows the row being
// written, not the folder of logs.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

#include "check/logs/log_report.h"

namespace clearon::check {

enum class ReportFormat { Text, Csv, Json };

// Counts runs and files as they pass.
class ReportCounter {
public:
    void File(const LogFileReport& file);
    void Run(const LogRun& run);
    [[nodiscard]] ReportTotals Totals() const;

private:
    ReportTotals totals_;
    std::map<std::wstring, bool> aegiraByComputer_;  // the last run of each computer
};

class ReportWriter {
public:
    // Appends to `out`. `flush`, when given, is handed `out` to write out
    // and empty whenever a good deal stands in it, within a long row too.
    using Flush = std::function<void(std::wstring& out)>;
    ReportWriter(ReportFormat format, std::wstring& out, Flush flush = {});

    // Each file: BeginFile, its runs in order, EndFile. JSON puts a file's
    // problems before its runs: BeginFile must then have them (a first
    // reading of the file); text and CSV only need the name.
    void BeginFile(const LogFileReport& file);
    void Run(const LogFileReport& file, const LogRun& run, bool last);
    void EndFile(const LogFileReport& file);
    // The totals; nothing may follow.
    void End();

    [[nodiscard]] ReportTotals Totals() const { return counter_.Totals(); }

private:
    void Spill();
    void TextRow(const LogFileReport& file, const LogRun& run, bool last);
    void CsvRunRow(const LogFileReport& file, const LogRun& run, bool last);

    ReportFormat format_;
    std::wstring& out_;
    Flush flush_;
    ReportCounter counter_;
    bool firstFile_ = true;
    std::size_t runsInFile_ = 0;
};

// How many of the logs, in name order with these `sizes`, a report reads
// within `maxInput` bytes in all: it stops before the first log that would
// pass the cap, so what is left out is the end of the list, never a hole in
// it. A log over kMaxRunLogBytes is not read (it is reported as too large)
// and counts nothing.
[[nodiscard]] std::size_t LogsWithinInput(std::span<const std::uint64_t> sizes,
                                          std::uint64_t maxInput) noexcept;

}  // namespace clearon::check
