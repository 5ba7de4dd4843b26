// Where this run's log goes: the LogPath setting (or the executable's
// directory) with its %NAME% references expanded, and the file named after
// the computer.
#pragma once

#include <string_view>

namespace clearon {

// Fills g_runState.logFilePath from LogPath and the computer name, then,
// with ComputerNameLine, logs the computer-name line, the first entry of the
// run. PathOnly is for a line written before this run's entries begin. A path that would not
// fit is refused, not cut: logFilePath stays empty, so every entry goes to
// the error log, and one line there says why.
enum class LogFileStart { ComputerNameLine, PathOnly };
void BuildLogFilePath(LogFileStart start);

}  // namespace clearon
