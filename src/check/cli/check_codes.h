// ClearonCheck's own failures end with codes of a private range, so that a
// deployment system never takes them for something else: 64 and 70 stand in
// Configuration Manager's default retry list, and every code from 1600 to
// 1699 reads as a Windows Installer result. Codes that say what Clearon's run
// did (0, 1, 3010, 1641, 1618, Clearon's own codes, the installer's code) are
// passed on as they are.
#pragma once

#include <string_view>

namespace clearon::check {

inline constexpr int kCheckUsage = 60001;  // a command line ClearonCheck does not understand
inline constexpr int kCheckClearonNotStarted =
    60002;                                        // deploy: Clearon.exe missing or not startable
inline constexpr int kCheckPreviewFault = 60003;  // preview: the walk asked to change the registry
inline constexpr int kCheckNoRun = 60004;         // no run in the log to judge
inline constexpr int kCheckNotElevated = 60005;   // deploy: not elevated, Windows answered 740
inline constexpr int kCheckUnexpectedError = 60006;  // an unexpected error ended ClearonCheck

// Printed on stderr when an unexpected error (such as running out of memory)
// reaches the entry point, which then ends with kCheckUnexpectedError.
inline constexpr std::wstring_view kCheckUnexpectedErrorText =
    L"error: an unexpected error ended ClearonCheck (exit code 60006)\n";

}  // namespace clearon::check
