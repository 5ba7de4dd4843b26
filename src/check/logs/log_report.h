// ClearonCheck report: reads the run logs Clearon writes (one per computer,
// UTF-16 LE, appended by every run, often collected on a share through
// LogPath) and turns each run into one row: when it ran, what it removed,
// what the user declined, what failed, which programs ran with which exit
// codes, whether Aegira is installed and whether a restart was requested.
// Logs that are partly written, cut or not Clearon's at all are reported as
// such; nothing in a log can make the reader fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace clearon::check {

struct ProgramRun {
    // Refused: longer than a command line; NotFound: its program path holds
    // a blank and names no existing file; UserWritable: others than
    // administrators can change the program; NotInSafeFolders: named without
    // a folder and neither beside Clearon.exe nor in the system folders.
    // Every refusal is "refused" in the JSON.
    enum class Status {
        Running,
        Exited,
        FailedToLaunch,
        Refused,
        NotFound,
        UserWritable,
        NotInSafeFolders
    };
    [[nodiscard]] bool refused() const noexcept {
        return status == Status::Refused || status == Status::NotFound ||
               status == Status::UserWritable || status == Status::NotInSafeFolders;
    }
    std::wstring commandLine;
    Status status = Status::Running;  // Running: the log holds no outcome
    std::wstring exitCode;            // as logged, when Exited
    // The first program after a " Removing: " line, run or refused.
    bool uninstaller = false;
    // Named without a folder in the configuration (Clearon looked it up and
    // logs the full path found): Aegira's installer is one of these.
    bool namedWithoutFolder = false;
};

enum class AegiraState { NotLogged, Installed, NotInstalled };

// Texts kept one after another in blocks of UTF-16 units, each text ended by
// a line feed, which no line of the log holds: a run of millions of short
// lines costs their characters, not a string each, and no more room than
// they fill.
class TextList {
public:
    void push_back(std::wstring_view text);
    [[nodiscard]] bool empty() const noexcept { return count_ == 0; }
    [[nodiscard]] std::size_t size() const noexcept { return count_; }

    // Calls `f(std::wstring_view)` for each text, in order.
    template <typename F>
    void ForEach(F&& f) const {
        std::wstring item;
        for (const std::u16string& block : blocks_) {
            for (const char16_t unit : block) {
                if (unit == u'\n') {
                    f(std::wstring_view(item));
                    item.clear();
                } else {
                    item.push_back(static_cast<wchar_t>(unit));
                }
            }
        }
    }

private:
    std::vector<std::u16string> blocks_;
    std::size_t count_ = 0;
};

struct LogRun {
    std::wstring computer;
    std::wstring start;  // timestamps as logged
    std::wstring stop;
    std::vector<std::wstring> removed;   // " Removing: " with no later " Failed to remove "
    std::vector<std::wstring> declined;  // " User chose not to remove: "
    std::vector<std::wstring> failed;    // last seen with " Failed to remove "
    // For each entry of `failed`: the last exit code logged by the programs
    // run between its " Removing: " and its " Failed to remove " lines (its
    // uninstaller, and any retries); empty when none logged one.
    std::vector<std::wstring> failedExitCodes;
    std::vector<std::wstring> interrupted;  // being removed when the log ends
    std::vector<ProgramRun> programs;
    AegiraState aegira = AegiraState::NotLogged;
    std::wstring aegiraVersion;
    bool restartRequested = false;  // " Added tool to ... RunOnce key"
    bool restartRegistrationFailed = false;
    bool stopped = false;  // its stop line " Clearon stopping!" is there
    TextList messages;     // messages Clearon reported to the user
};

struct LogFileReport {
    std::wstring fileName;
    bool isClearonLog = false;
    std::vector<LogRun> runs;
    std::vector<std::wstring> problems;  // cut, partly written, foreign, ...
};

// Does a file name have the form of a run log, "Clearon.<computer>.log"
// (any letter case)?
[[nodiscard]] bool IsRunLogName(std::wstring_view fileName) noexcept;

// Reads one run log from its bytes.
[[nodiscard]] LogFileReport ReadRunLog(std::wstring_view fileName,
                                       std::span<const std::uint8_t> bytes);

// Reads one run log, handing each run to `onRun` as soon as the next run
// begins, and the last (`last` true) once the whole file is read, with the
// file's problems known; the runs are not kept in the result. However long
// the log, one run is held at a time.
using RunHandler = std::function<void(const LogFileReport& file, LogRun& run, bool last)>;
[[nodiscard]] LogFileReport ReadRunLog(std::wstring_view fileName,
                                       std::span<const std::uint8_t> bytes,
                                       const RunHandler& onRun);

// A log that could not be read at all (locked, gone, too large).
[[nodiscard]] LogFileReport UnreadableRunLog(std::wstring_view fileName, std::wstring_view why);

struct ReportTotals {
    std::size_t files = 0;
    std::size_t foreignFiles = 0;
    std::size_t filesWithProblems = 0;
    std::size_t computers = 0;
    std::size_t runs = 0;
    std::size_t runsWithoutStop = 0;
    std::size_t removed = 0;
    std::size_t declined = 0;
    std::size_t failed = 0;
    std::size_t programs = 0;
    std::size_t programsNotZero = 0;  // non-zero exit, failed launch, refused
    std::size_t restarts = 0;
    std::size_t aegiraInstalled = 0;  // computers whose last run logged Aegira installed
};
[[nodiscard]] ReportTotals TotalReport(const std::vector<LogFileReport>& files);

// One line per run and per problem, then the totals.
[[nodiscard]] std::wstring FormatReportText(const std::vector<LogFileReport>& files);

// A header row and one row per run (and per file that holds no run), quoted
// for a spreadsheet.
[[nodiscard]] std::wstring FormatReportCsv(const std::vector<LogFileReport>& files);
inline constexpr std::wstring_view kCsvHeader =
    L"file,computer,start,stop,removed,declined,failed,interrupted,programs,aegira,"
    L"restart_requested,stop_line,notes";

// One CSV field: quoted when it holds a comma, a quote, a line end or blanks
// at its ends, with quotes doubled. A field that a spreadsheet would take for
// a formula (it starts with =, +, -, @, a tab or a carriage return) gets a
// leading apostrophe: display names come from the registry of machines that
// anybody may have installed software on.
[[nodiscard]] std::wstring CsvField(std::wstring_view text);

// The largest log the reader takes whole.
inline constexpr std::uint64_t kMaxRunLogBytes = 256ull * 1024 * 1024;

}  // namespace clearon::check
