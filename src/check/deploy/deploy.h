// ClearonCheck deploy: the one command line a deployment system runs from
// the package folder. It checks Clearon.ini as Clearon would, runs
// Clearon.exe beside it within a time limit, reads the run Clearon appended
// to its log and answers with a code the deployment system understands. The
// decisions are plain functions; DeployOnThisMachine is the thin Windows
// part around them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "check/cli/check_cli.h"
#include "check/logs/log_report.h"
#include "check/logs/run_outcome.h"

namespace clearon::check {

// The run log Clearon will append to: LogPath (or Clearon's own folder)
// expanded by Clearon's rule, then "Clearon.<computer>.log". Empty when
// Clearon would log to its error log instead (the path does not fit).
[[nodiscard]] std::wstring RunLogPathFor(
    std::wstring_view configText, std::wstring_view exeDirectory,
    const std::optional<std::wstring>& computerName,
    const std::function<std::optional<std::wstring>(std::wstring_view name)>& environment);

// What the run appended to the log: the bytes from `sizeBefore` on, or the
// whole file when it is now shorter (replaced or emptied meanwhile).
[[nodiscard]] std::span<const std::uint8_t> AppendedBytes(std::span<const std::uint8_t> log,
                                                          std::uint64_t sizeBefore) noexcept;

// The outcome of the run whose log bytes were appended, given Clearon's exit
// code; `report` receives what was read (its last run is the one mapped).
[[nodiscard]] RunOutcome DeployOutcome(std::wstring_view logName,
                                       std::span<const std::uint8_t> appended, int clearonExitCode,
                                       LogFileReport& report);

// The outcome when Clearon outlived the time limit.
[[nodiscard]] RunOutcome TimedOutOutcome(std::uint32_t limitMs);

// ERROR_ELEVATION_REQUIRED: CreateProcess's answer for a program whose
// manifest asks for administrator rights (Clearon.exe's does) when the
// caller runs without them.
inline constexpr std::uint32_t kWindowsElevationRequired = 740;

// The outcome when Windows would not start Clearon.exe (at `clearonPath`)
// and answered `windowsError`: not elevated is kCheckNotElevated, anything
// else (missing, broken, blocked) kCheckClearonNotStarted.
[[nodiscard]] RunOutcome NotStartedOutcome(std::uint32_t windowsError,
                                           std::wstring_view clearonPath);

// deploy's one line: the outcome, then Clearon.exe's own exit code ("none"
// when it never ended: not started, or still running at the time limit), so
// a 0 from Clearon behind a failed installer stays visible.
[[nodiscard]] std::wstring DeployLine(const RunOutcome& outcome,
                                      std::optional<std::uint32_t> clearonExitCode);

// The name of the log's copy on the share: "Clearon.<computer>.log".
[[nodiscard]] std::wstring LogShareFileName(const std::optional<std::wstring>& computerName);

#ifdef _WIN32
// Runs the whole deployment on this machine (ClearonCheck.exe deploy).
[[nodiscard]] int DeployOnThisMachine(const DeployRequest& request, std::wstring& out,
                                      TextSink& err);
#endif

}  // namespace clearon::check
