// The run log's one writer.
//
// From the single-instance lock on, a run holds one write handle on its log
// for the whole run (HoldRunLog), so a person or program that opens the log
// with sharing that refuses writers cannot divert entries mid-run. Before
// that (the line of a start that waits for another run) and after a held
// handle could not be kept, every entry opens the log for itself. Each entry
// (timestamp, message and CR LF) is one write, so a run cut short leaves at
// most its last line torn and never glues two entries into one line.
//
// The decisions (what to hold, when to reopen, where a failed entry goes,
// what is counted) are portable and run over a LogFiles interface; the
// Windows side supplies the files and the process-wide functions below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "log/log_format.h"

namespace clearon {

// What opening the run log found.
enum class LogOpen {
    Opened,
    Failed,   // no such folder, held by a writer that shares nothing, ...
    Refused,  // a reparse point, or a file with more than one link
    Moved,    // a link in the path leads to another file than the one meant
};

// The log files as the writer sees them.
class LogFiles {
public:
    virtual ~LogFiles() = default;
    // Opens the run log and keeps it open until CloseRunLog. With Moved,
    // `finalPath` names where the link led.
    [[nodiscard]] virtual LogOpen OpenRunLog(std::wstring& finalPath) = 0;
    // One write at the end of the open run log: true only when all of
    // `text` was written.
    [[nodiscard]] virtual bool WriteRunLog(std::wstring_view text) = 0;
    virtual void CloseRunLog() = 0;
    // True when the run log lies on a network volume, whose handles die
    // when the connection is renewed.
    [[nodiscard]] virtual bool RunLogOnNetwork() = 0;
    // Appends `text` to the error log with an open of its own; true when
    // all of it was written.
    [[nodiscard]] virtual bool AppendToErrorLog(std::wstring_view text) = 0;
    [[nodiscard]] virtual std::wstring Timestamp() = 0;
};

// A final path as Windows reports it ("\\?\C:\Logs\x.log",
// "\\?\UNC\server\share\x.log") in the form a path is written in
// ("C:\Logs\x.log", "\\server\share\x.log").
[[nodiscard]] std::wstring DosPathOf(std::wstring_view finalPath);
// Not thread-safe: the Windows side serializes its calls.
class RunLogWriter {
public:
    explicit RunLogWriter(LogFiles& files) noexcept : files_(files) {}

    // From here on the run log stays open. A log that cannot be opened now
    // is opened again for each entry, as before the hold.
    void Hold();
    // Writes one whole entry to the run log; when that cannot be done, to
    // the error log (refusals are named there once). An entry that was
    // meant for an opened run log and could not be written to it is counted.
    void Append(std::wstring_view entry, bool runLogHasPath);
    [[nodiscard]] std::uint32_t unwrittenEntries() const noexcept { return unwritten_; }

private:
    bool WriteHeld(std::wstring_view entry);
    bool WriteWithShortOpen(std::wstring_view entry);
    void NoteRefusal(LogOpen outcome, const std::wstring& finalPath);

    LogFiles& files_;
    bool held_ = false;
    bool reopened_ = false;
    bool refusalLogged_ = false;
    std::uint32_t unwritten_ = 0;
};

// ---- The process's writer (Windows) ----------------------------------------

// Appends `text` (UTF-16LE, no byte-order mark) to the run log in one write,
// or to the error log beside the executable when the run log cannot be
// opened, is refused or the write fails. Does nothing when logging is
// switched off. Reads only the run state: g_runState.loggingEnabled,
// logFilePath and exeDirectory (consoleMode and mainWindow for ReportMessage).
void AppendToLog(std::wstring_view text) noexcept;

// A timestamped line for the error log alone, whatever the settings say.
void AppendToErrorLog(std::wstring_view message) noexcept;

// Keeps the run log open from now until the process ends.
void HoldRunLog() noexcept;

// The current local time in the log's 23-character format.
[[nodiscard]] std::wstring CurrentTimestamp();

// A timestamped line: CurrentTimestamp() then `message`, which begins with a
// space and ends with "\r\n", in one write.
void LogTimestamped(std::wstring_view message) noexcept;

// The run's last line: when entries could not be written to the run log,
// first the line that says how many, then " Clearon stopping!".
void LogRunEnd() noexcept;

// Logs `text` and "\r\n", then shows it by `sink`: written to standard
// output exactly (no line end), in a message box captioned "Information"
// owned by the main dialog when there is one, or nowhere else. Texts longer
// than 254 characters are cut to 254 for the log and the screen alike.
void ReportMessage(std::wstring_view text, MessageSink sink) noexcept;

}  // namespace clearon
