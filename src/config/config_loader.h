// Loads Clearon.ini from the current directory (the executable's directory)
// into g_configText (Windows side; the decisions live in config_file.h).
#pragma once

#include "log/log_format.h"

namespace clearon {

// Reads, decodes and validates "Clearon.ini". Returns 0 when g_configText
// holds the configuration, otherwise the exit code the process must end with
// (2, 13, 30, 38, 110 or 223) after the matching message has been reported
// by `sink` (never a box where nobody can see one).
// The file is closed before the message is shown, so a person looking at
// the message box can already edit or replace the file.
[[nodiscard]] int LoadConfigFile(MessageSink sink) noexcept;

}  // namespace clearon
