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

#include "check/cli/check_codes.h"
#include "check/cli/text_sink.h"
#include "check/lint/config_lint.h"
#include "config/settings.h"

namespace clearon::check {

// Exit statuses of report.
inline constexpr int kReportClean = 0;
inline constexpr int kReportAttention = 1;  // a file or a run needs a look
inline constexpr int kReportNoFolder = 2;
// Exit statuses of log.
inline constexpr int kLogConverted = 0;
inline constexpr int kLogForeign = 1;  // not a Clearon log: nothing converted
inline constexpr int kLogUnreadable = 2;

inline constexpr int kDefaultTimeLimitMinutes = 50;  // below Intune's 60-minute install limit
// report --max-input: the logs' bytes read in all, by default.
inline constexpr std::uint64_t kDefaultMaxInputBytes = 4ull * 1024 * 1024 * 1024;

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
                      TextSink& err)>
        preview;
    // Runs Clearon.exe beside ClearonCheck and maps its run; empty where
    // there is no Clearon.exe to run (Linux).
    std::function<int(const DeployRequest& request, std::wstring& out, TextSink& err)> deploy;
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
// standard output is appended to `out`, errors and progress go to `err` as
// they come. Returns the exit status.
[[nodiscard]] int RunCheck(const std::vector<std::wstring>& arguments,
                           const CheckPlatform& platform, std::wstring& out, TextSink err);

// Reads the last run of a log's bytes and maps it (`result`): the exit status
// and the text to print (one line, or JSON).
[[nodiscard]] int ResultOfLog(const std::wstring& logName, std::span<const std::uint8_t> bytes,
                              bool json, std::wstring& out);

// The text after the first argument "--" of a raw Windows command line (the
// program name first), as written, without the blanks that follow "--";
// nothing when no argument is "--". Arguments are told apart by the rules
// of CommandLineToArgvW, so a quoted "a -- b" is no "--".
[[nodiscard]] std::optional<std::wstring> RawTextAfterDoubleDash(std::wstring_view commandLine);

// A size as --max-input takes it: a whole number of bytes, or one followed
// by K, M or G (1024-based; a B after it is allowed, case does not matter).
// Nothing for anything else, a negative number or a size past 2^64 - 1.
[[nodiscard]] std::optional<std::uint64_t> ParseByteSize(std::string_view text) noexcept;

// Joins the arguments after "--" into one command-line tail, quoting each
// as the Windows argument rules need.
[[nodiscard]] std::wstring JoinArguments(const std::vector<std::wstring>& arguments);

// Reads Clearon.ini at `path` by Clearon's rules: returns 0 with `text`
// filled, or Clearon's exit code (2, 13, 30, 38, 110, 223) with `lint`
// holding the refusal.
[[nodiscard]] int LoadConfigLikeClearon(const std::filesystem::path& path, std::wstring& text,
                                        LintResult& lint, const LintOptions& options);

}  // namespace clearon::check
