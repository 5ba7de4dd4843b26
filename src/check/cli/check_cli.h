// The command line of ClearonCheck, shared by the Windows console program
// and the Linux build: parses the arguments, reads the files, prints the
// reports. What differs between the two (the environment, the registry
// preview) comes in through CheckPlatform.
#pragma once

#include <filesystem>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/lint/config_lint.h"
#include "config/settings.h"

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

// Printed on stderr when an unexpected error (such as running out of memory)
// reaches the entry point; the program then ends with kExitUnexpectedError
// (1359), Clearon's own code for the same.
inline constexpr std::wstring_view kCheckUnexpectedError =
    L"error: an unexpected error ended ClearonCheck (exit code 1359)\n";
inline constexpr int kDefaultTimeLimitMinutes = 50;  // below Intune's 60-minute install limit

// What `deploy` was asked for.
struct DeployRequest {
    // --time-limit in minutes (fractions allowed), as milliseconds.
    std::uint32_t timeLimitMs = kDefaultTimeLimitMinutes * 60'000u;
    std::wstring logShare;  // empty: no copy
    bool json = false;
    std::wstring clearonArguments;  // everything after "--", quoted again
};

struct CheckPlatform {
    EnvironmentLookup environment;
    std::wstring environmentSource;
    // Runs the preview for the configuration text read from `iniPath`;
    // empty where there is no registry to preview (Linux).
    std::function<int(const std::filesystem::path& iniPath, std::wstring_view configText,
                      std::wstring_view savedArguments, bool json, std::wstring& out,
                      std::wstring& err)>
        preview;
    // Runs Clearon.exe beside ClearonCheck and maps its run; empty where
    // there is no Clearon.exe to run (Linux).
    std::function<int(const DeployRequest& request, std::wstring& out, std::wstring& err)> deploy;
    // lint --unattended: who besides administrators may change the folder
    // `folder` (Clearon's own, the configuration's), as the run's check
    // would say it; nothing when nobody may. Empty where rights cannot be
    // read (Linux).
    std::function<std::optional<std::wstring>(const std::wstring& folder, const Settings& settings)>
        folderChangeableByOthers;
    // The process's command line as Windows holds it (GetCommandLineW), so
    // deploy hands on what follows "--" exactly as written; empty: the
    // arguments after "--" are quoted again (JoinArguments).
    std::wstring rawCommandLine;
    // Writes what `out` holds so far to standard output and empties it, so
    // a long report never waits whole in memory; empty: `out` keeps it all.
    std::function<void(std::wstring& out)> flush;
};

// Runs ClearonCheck with `arguments` (without the program name); what goes to
// standard output is appended to `out`, errors to `err`. Returns the exit
// status.
[[nodiscard]] int RunCheck(const std::vector<std::wstring>& arguments,
                           const CheckPlatform& platform, std::wstring& out, std::wstring& err);

// Reads the last run of a log's bytes and maps it (`result`): the exit status
// and the text to print (one line, or JSON).
[[nodiscard]] int ResultOfLog(const std::wstring& logName, std::span<const std::uint8_t> bytes,
                              bool json, std::wstring& out);

// The text after the first argument "--" of a raw Windows command line (the
// program name first), as written, without the blanks that follow "--";
// nothing when no argument is "--". Arguments are told apart by the rules
// of CommandLineToArgvW, so a quoted "a -- b" is no "--".
[[nodiscard]] std::optional<std::wstring> RawTextAfterDoubleDash(std::wstring_view commandLine);

// Joins the arguments after "--" into one command-line tail, quoting each
// as the Windows argument rules need.
[[nodiscard]] std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

// Reads Clearon.ini at `path` by Clearon's rules: returns 0 with `text`
// filled, or Clearon's exit code (2, 13, 30, 38, 110, 223) with `lint`
// holding the refusal.
[[nodiscard]] int LoadConfigLikeClearon(const std::filesystem::path& path, std::wstring& text,
                                        LintResult& lint, const LintOptions& options);

}  // namespace clearon::check
