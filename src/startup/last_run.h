// HKLM\SOFTWARE\Tessaral\ClearonLastRun: what the last run on this machine
// did, for an administrator or an inventory tool that reads the registry
// rather than the log. Every run replaces the key's values when it begins
// (Outcome "running") and finishes them when it ends; a run that was killed
// leaves "running". An ordinary key beside the volatile reboot marker, so
// that it survives restarts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "removal/run_outcome.h"

namespace clearon {

inline constexpr std::wstring_view kLastRunSubkey = L"ClearonLastRun";
inline constexpr std::wstring_view kLastRunKey = L"Software\\Tessaral\\ClearonLastRun\\";
inline constexpr std::wstring_view kLastRunOutcome = L"Outcome";
inline constexpr std::wstring_view kLastRunStarted = L"Started";
inline constexpr std::wstring_view kLastRunVersion = L"Version";
inline constexpr std::wstring_view kLastRunConfigSha256 = L"ConfigSha256";
inline constexpr std::wstring_view kLastRunExitCode = L"ExitCode";
inline constexpr std::wstring_view kLastRunFinished = L"Finished";
inline constexpr std::wstring_view kLastRunProductsRemaining = L"ProductsRemaining";
inline constexpr std::wstring_view kLastRunRunning = L"running";
// The build's version, as the log's version line gives it.
inline constexpr std::wstring_view kClearonVersionText = L"" CLEARON_VERSION_TEXT;

struct UtcTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// "2026-12-07T16:40:00Z"
[[nodiscard]] std::wstring FormatUtcTime(const UtcTime& time);

// Lower-case hexadecimal, two digits a byte.
[[nodiscard]] std::wstring LowerHex(std::span<const std::uint8_t> bytes);

struct NamedValue {
    std::wstring_view name;
    std::uint32_t type = kRegSz;
    std::vector<std::uint8_t> data;
};

// What a run writes when it begins, and which values it deletes first: a
// previous run's end must not stand beside this run's "running".
struct LastRunStart {
    std::wstring started;  // FormatUtcTime
    std::wstring configSha256;
};
[[nodiscard]] std::vector<NamedValue> LastRunStartValues(const LastRunStart& start);
[[nodiscard]] std::span<const std::wstring_view> LastRunValuesToClear() noexcept;

// What a run writes when it ends.
struct LastRunEnd {
    int exitCode = 0;  // the process's own exit code
    std::wstring finished;
    std::uint32_t productsRemaining = 0;
    OutcomeKind outcome = OutcomeKind::Done;
};
[[nodiscard]] std::vector<NamedValue> LastRunEndValues(const LastRunEnd& end);

// Writes the start into the key, created as an ordinary key when missing.
// Failures are silent: the key informs, and a run is never stopped for it.
void StartLastRun(Registry& registry, const LastRunStart& start);

// Adds the end to the key a start wrote (never creates it), flushed to disk.
void FinishLastRun(Registry& registry, const LastRunEnd& end);

}  // namespace clearon
