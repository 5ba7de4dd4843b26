// Feeds arbitrary bytes to the run-log reader of ClearonCheck report, as a
// log on a share may hold anything: a log cut at any byte, two runs written
// into each other, another program's file. Besides the sanitizers' checks,
// the report's own promises are asserted: a file that is not a log has no
// runs, a product has one outcome per run, and every CSV row keeps its
// columns however the texts are quoted. ClearonCheck result never reads a
// restart or success into a run whose installer did not finish, and
// ClearonCheck log makes one whole CMTrace entry of every line, whatever the
// line holds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/logs/log_convert.h"
#include "check/logs/log_report.h"
#include "check/logs/run_outcome.h"

namespace {

using namespace clearon;
using namespace clearon::check;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

bool Holds(const std::vector<std::wstring>& list, const std::wstring& item) {
    for (const std::wstring& entry : list) {
        if (entry == item) return true;
    }
    return false;
}

// Fields per record of RFC 4180 text with CR LF record ends.
std::vector<std::size_t> FieldsPerRecord(std::wstring_view text) {
    std::vector<std::size_t> counts;
    std::size_t fields = 1;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (quoted) {
            if (c == L'"' && i + 1 < text.size() && text[i + 1] == L'"') {
                ++i;
            } else if (c == L'"') {
                quoted = false;
            }
        } else if (c == L'"') {
            quoted = true;
        } else if (c == L',') {
            ++fields;
        } else if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            counts.push_back(fields);
            fields = 1;
            ++i;
        }
    }
    Require(!quoted);
    return counts;
}

// The mapping of ClearonCheck result, which has only the log to go by.
void CheckOutcome(const LogRun& run) {
    const RunOutcome outcome = MapRunOutcome(&run, std::nullopt);
    Require(!outcome.text.empty());
    Require((outcome.exitCode == kOutcomeDone) == (outcome.kind == OutcomeKind::Done));
    // Aegira's installer as the report shows it: a product's uninstaller is
    // never taken for it.
    const auto installer =
        std::find_if(run.programs.rbegin(), run.programs.rend(),
                     [](const ProgramRun& p) { return !p.uninstaller && IsLoggedInstaller(p); });
    const bool installerExited =
        installer == run.programs.rend() || installer->status == ProgramRun::Status::Exited;
    const bool stayed = !run.failed.empty() || !run.interrupted.empty();
    switch (outcome.kind) {
        case OutcomeKind::Done:
            Require(run.stopped && !stayed && !run.restartRequested && installerExited);
            break;
        case OutcomeKind::RestartNeeded:
            Require(outcome.exitCode == kOutcomeRestart && !stayed && installerExited);
            break;
        case OutcomeKind::ProductStayed:
            Require(outcome.exitCode == kOutcomeProductStayed && stayed);
            break;
        default:
            Require(outcome.exitCode != kOutcomeDone);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const LogFileReport report = ReadRunLog(L"Clearon.FUZZ.log", bytes);
    if (!report.isClearonLog) Require(report.runs.empty());
    for (const LogRun& run : report.runs) {
        for (const std::wstring& name : run.removed) {
            Require(!Holds(run.failed, name) && !Holds(run.interrupted, name));
        }
        for (const std::wstring& name : run.failed) Require(!Holds(run.interrupted, name));
        if (run.stopped) Require(!run.stop.empty() && run.interrupted.empty());
        CheckOutcome(run);
    }

    // A second file cut from the same bytes at an odd place, as a share
    // copy caught mid-write would be.
    const LogFileReport cut =
        ReadRunLog(L"Clearon.CUT.log", bytes.first(std::min(size, (size / 2) | 1u)));
    const std::vector<LogFileReport> files{report, cut};
    const ReportTotals totals = TotalReport(files);
    Require(totals.runs == report.runs.size() + cut.runs.size());
    Require(totals.runsWithoutStop <= totals.runs);

    const std::wstring csv = FormatReportCsv(files);
    const std::vector<std::size_t> records = FieldsPerRecord(csv);
    Require(!records.empty());
    for (const std::size_t fields : records) Require(fields == records.front());
    Require(records.size() == 1 + std::max<std::size_t>(report.runs.size(), 1) +
                                  std::max<std::size_t>(cut.runs.size(), 1));
    (void)FormatReportText(files);

    const DecodedLog log = DecodeLog(bytes);
    const std::wstring cmtrace = FormatCmTrace(log.entries);
    std::size_t lines = 0;
    for (std::size_t at = 0, end; (end = cmtrace.find(L'\n', at)) != std::wstring::npos;
         at = end + 1, ++lines) {
        std::wstring_view line = std::wstring_view(cmtrace).substr(at, end - at);
        Require(line.ends_with(L'\r'));
        line.remove_suffix(1);
        const std::wstring_view marker = L"]LOG]!><";
        Require(line.starts_with(L"<![LOG[") && line.ends_with(L"file=\"\">"));
        Require(line.find(marker) != std::wstring_view::npos &&
                line.find(marker) == line.rfind(marker));
    }
    Require(lines == static_cast<std::size_t>(std::count_if(
                         log.entries.begin(), log.entries.end(), [](const LogEntry& entry) {
                             return !entry.timestamp.empty() || !entry.message.empty();
                         })));
    return 0;
}
