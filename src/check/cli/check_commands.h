// One function per ClearonCheck command, called by RunCheck once the command
// line is parsed: each reads what its command needs and prints its report.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/logs/report_writer.h"

namespace clearon::check {

// lint: Clearon.ini (or the one in the folder `operands` names, default
// .\Clearon.ini) as Clearon reads it, with the traps of a run as SYSTEM when
// `unattended`.
[[nodiscard]] int RunLint(const std::vector<std::wstring>& operands, bool unattended,
                          const CheckPlatform& platform, std::wstring& out);

// preview: what a run with that Clearon.ini would meet and launch here.
[[nodiscard]] int RunPreview(const std::vector<std::wstring>& operands,
                             std::wstring_view savedArguments, bool json,
                             const CheckPlatform& platform, std::wstring& out, TextSink& err);

// What `report` was asked for.
struct ReportRequest {
    ReportFormat format = ReportFormat::Text;
    bool byteOrderMark = false;  // --bom: the CSV starts with a UTF-8 byte-order mark
    std::uint64_t maxInput = kDefaultMaxInputBytes;  // --max-input: the logs' bytes in all
};

// report: every Clearon.<computer>.log in `folder`, a run at a time; the
// logs beyond the request's maxInput are named on `err` and not read.
[[nodiscard]] int RunReport(const std::filesystem::path& folder, const ReportRequest& request,
                            const CheckPlatform& platform, std::wstring& out, TextSink& err);

// result: the outcome of the last run in the log `log`.
[[nodiscard]] int RunResult(const std::filesystem::path& log, bool json, std::wstring& out,
                            TextSink& err);

// log: the run log as UTF-8 text or CMTrace lines.
[[nodiscard]] int RunLog(const std::filesystem::path& path, bool cmtrace, std::wstring& out,
                         TextSink& err);

// deploy: Clearon.exe run by the platform with `forClearon` (the arguments
// after "--", or the raw command line's text after it where there is one).
[[nodiscard]] int RunDeploy(DeployRequest request, const std::vector<std::wstring>& forClearon,
                            const CheckPlatform& platform, std::wstring& out, TextSink& err);

}  // namespace clearon::check
