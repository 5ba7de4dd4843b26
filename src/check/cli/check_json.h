// ClearonCheck's --json output: one object per command, each with a
// "schema" member naming its layout (docs/clearon-check-json.md). Texts are
// UTF-8; a lone surrogate from a log or the registry becomes U+FFFD.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "check/logs/log_report.h"
#include "check/preview/removal_preview.h"
#include "check/logs/run_outcome.h"

namespace clearon::check {

inline constexpr std::string_view kResultSchema = "clearon-check/result/1";
inline constexpr std::string_view kReportSchema = "clearon-check/report/1";
inline constexpr std::string_view kPreviewSchema = "clearon-check/preview/1";

// `result` and `deploy`: the outcome, and the run it was read from (null
// when there was none).
[[nodiscard]] std::wstring ResultJson(const std::wstring& logFile, const LogRun* run,
                                      const RunOutcome& outcome);
// `deploy`: the same, with Clearon.exe's own exit code beside the mapped one
// (null when it never ended).
[[nodiscard]] std::wstring DeployJson(const std::wstring& logFile, const LogRun* run,
                                      const RunOutcome& outcome,
                                      std::optional<std::uint32_t> clearonExitCode);

// `report`: every file with its runs and problems, then the totals.
[[nodiscard]] std::wstring ReportJson(const std::vector<LogFileReport>& files);

// The pieces of `report --json` as the report writer puts them together a run
// at a time, each exactly as the whole document would show it with its first
// line at `indent` blanks.
[[nodiscard]] std::wstring JsonString(std::wstring_view text);
[[nodiscard]] std::wstring JsonTexts(const std::vector<std::wstring>& items, int indent);
// A run, its messages appended one by one with `spill` called after each.
void AppendRunJson(std::wstring& out, const LogRun& run, int indent,
                   const std::function<void()>& spill);
[[nodiscard]] std::wstring TotalsJsonAt(const ReportTotals& totals, int indent);

// `preview`: the settings that shape the run and every item in run order.
[[nodiscard]] std::wstring PreviewJson(const std::wstring& configFile, const PreviewResult& result,
                                       int exitCode);

}  // namespace clearon::check
