// The command line of ClearonCheck, shared by the Windows console program
// and the Linux build: parses the arguments, reads the files, prints the
// reports. What differs between the two (the environment, the registry
// preview) comes in through CheckPlatform.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "check/config_lint.h"

namespace clearon::check {

// Exit status for a command line ClearonCheck does not understand; it is none
// of Clearon's own codes.
inline constexpr int kExitUsage = 64;
// Exit statuses of report.
inline constexpr int kReportClean = 0;
inline constexpr int kReportAttention = 1;  // a file or a run needs a look
inline constexpr int kReportNoFolder = 2;
// Exit statuses of log.
inline constexpr int kLogConverted = 0;
inline constexpr int kLogForeign = 1;  // not a Clearon log: nothing converted
inline constexpr int kLogUnreadable = 2;

struct CheckPlatform {
    EnvironmentLookup environment;
    std::wstring environmentSource;
    // Runs the preview for the configuration text read from `iniPath`;
    // empty where there is no registry to preview (Linux).
    std::function<int(const std::filesystem::path& iniPath, std::wstring_view configText,
                      std::wstring_view savedArguments, std::wstring& out)>
        preview;
};

// Runs ClearonCheck with `arguments` (without the program name); the text to
// print goes to `out`. Returns the exit status.
[[nodiscard]] int RunCheck(const std::vector<std::wstring>& arguments,
                           const CheckPlatform& platform, std::wstring& out);

// Reads Clearon.ini at `path` by Clearon's rules: returns 0 with `text`
// filled, or Clearon's exit code (2, 13, 30, 38, 110, 223) with `lint`
// holding the refusal.
[[nodiscard]] int LoadConfigLikeClearon(const std::filesystem::path& path, std::wstring& text,
                                        LintResult& lint, const LintOptions& options);

}  // namespace clearon::check
