// Loads Clearon.ini from the current directory (the executable's directory)
// into the caller's text (Windows side; the decisions live in config_file.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/log_format.h"

namespace clearon {

// Reads, decodes and validates "Clearon.ini". Returns 0 when `configText`
// holds the configuration (it is left empty otherwise), otherwise the exit
// code the process must end with (2, 13, 30, 38, 110 or 223) after the
// matching message has been reported by `sink` (never a box where nobody can
// see one). The file is closed before the message is shown, so a person
// looking at the message box can already edit or replace the file.
// `fileBytes`, when given, receives the file's bytes as they were read.
[[nodiscard]] int LoadConfigFile(std::wstring& configText, MessageSink sink,
                                 std::vector<std::uint8_t>* fileBytes = nullptr) noexcept;

}  // namespace clearon
