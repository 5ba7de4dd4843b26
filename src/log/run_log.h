// The run log and the user messages (Windows side).
//
// Every entry opens the log file exclusively, writes at its end and closes it
// again, so each entry is on disk when AppendToLog returns and the log never
// holds a handle open while an uninstaller runs.
#pragma once

#include <string>
#include <string_view>

#include "log/log_format.h"

namespace clearon {

// Appends `text` as UTF-16LE (no byte-order mark) to the run log, or to the
// error log beside the executable when the run log cannot be opened; drops it
// when neither opens. Does nothing when logging is switched off. Reads only
// the run state: g_runState.loggingEnabled, logFilePath and exeDirectory
// (consoleMode and mainWindow for ReportMessage).
void AppendToLog(std::wstring_view text) noexcept;

// The current local time in the log's 23-character format.
[[nodiscard]] std::wstring CurrentTimestamp();

// A timestamped line: CurrentTimestamp() then `message`, which begins with a
// space and ends with "\r\n".
void LogTimestamped(std::wstring_view message) noexcept;

// Logs `text` and "\r\n", then shows it by `sink`: written to standard
// output exactly (no line end), in a message box captioned "Information"
// owned by the main dialog when there is one, or nowhere else. Texts longer
// than 254 characters are cut to 254 for the log and the screen alike.
void ReportMessage(std::wstring_view text, MessageSink sink) noexcept;

}  // namespace clearon
