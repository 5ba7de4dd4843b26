#include "check/log_report.h"

#include <algorithm>
#include <deque>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "check/check_text.h"
#include "removal/command_line.h"
#include "removal/program_path.h"
#include "config/settings.h"
#include "log/log_format.h"
#include "removal/product_discovery.h"
#include "removal/uninstall_command.h"
#include "resume/reboot_resume.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

// A log message as it stands in a line: without its closing "\r\n".
[[nodiscard]] std::wstring_view Message(std::wstring_view text) noexcept {
    if (text.size() >= kLineEnd.size() && text.substr(text.size() - kLineEnd.size()) == kLineEnd) {
        text.remove_suffix(kLineEnd.size());
    }
    return text;
}

[[nodiscard]] std::wstring Join(const std::vector<std::wstring>& items,
                                std::wstring_view separator) {
    std::size_t size = 0;
    for (const std::wstring& item : items) size += item.size() + separator.size();
    std::wstring out;
    out.reserve(size);
    for (const std::wstring& item : items) {
        if (!out.empty()) out += separator;
        out += item;
    }
    return out;
}

// Looks like single-byte text (ASCII, ANSI, UTF-8) rather than UTF-16 LE:
// printable bytes in both halves of most units.
[[nodiscard]] bool LooksLikeByteText(std::span<const std::uint8_t> bytes) noexcept {
    const std::size_t sample = std::min<std::size_t>(bytes.size(), 4096);
    if (sample < 2) return false;
    std::size_t printable = 0;
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < sample; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == 0) ++zeros;
        if ((b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t' || b >= 0x80)
            ++printable;
    }
    return zeros == 0 && printable * 10 >= sample * 9;
}

class RunReader {
public:
    explicit RunReader(LogFileReport& report) : report_(report) {}

    void Line(std::wstring_view line) {
        if (line.empty()) return;
        if (line.starts_with(kLogComputerName)) {
            ComputerLine(line.substr(kLogComputerName.size()));
            return;
        }
        if (line.size() >= kTimestampLength && IsTimestamp(line.substr(0, kTimestampLength))) {
            const std::wstring_view timestamp = line.substr(0, kTimestampLength);
            const std::wstring_view message = line.substr(kTimestampLength);
            if (message.starts_with(kLogComputerName)) {
                // The run that wrote the timestamp ended before its message:
                // the next run's first line follows it directly.
                ++timestampsWithoutMessage_;
                ComputerLine(message.substr(kLogComputerName.size()));
                return;
            }
            ++recognised_;
            Timestamped(timestamp, message);
            return;
        }
        // A message Clearon reported to the user, logged without timestamp.
        if (current_ != nullptr) {
            current_->messages.emplace_back(line);
        } else {
            ++outsideRuns_;
        }
    }

    void Finish(bool cutMidLine) {
        if (cutMidLine) {
            report_.problems.push_back(
                L"the file ends in the middle of a line (partly written, or "
                L"cut)");
        }
        if (timestampsWithoutMessage_ > 0) {
            report_.problems.push_back(std::to_wstring(timestampsWithoutMessage_) +
                                       L" timestamp(s) without their message: a run ended "
                                       L"between the two writes of a line");
        }
        if (outsideRuns_ > 0) {
            report_.problems.push_back(std::to_wstring(outsideRuns_) +
                                       L" line(s) stand before the first run");
        }
        report_.isClearonLog = recognised_ > 0;
    }

private:
    void ComputerLine(std::wstring_view name) {
        ++recognised_;
        StartRun();
        current_->computer = name;
        awaitingStart_ = true;
    }

    void StartRun() {
        report_.runs.emplace_back();
        current_ = &report_.runs.back();
        outcomeIndex_.clear();
        outcomes_.clear();
        declined_.clear();
        pendingName_.reset();
        pendingProgram_.reset();
    }

    // Every timestamped line, by its message.
    void Timestamped(std::wstring_view timestamp, std::wstring_view logged) {
        const std::wstring_view message = Message(logged);
        if (message == Message(kLogStarting)) {
            if (current_ == nullptr || !awaitingStart_) StartRun();
            current_->start = timestamp;
            awaitingStart_ = false;
            return;
        }
        awaitingStart_ = false;
        if (current_ == nullptr) {
            ++outsideRuns_;
            return;
        }
        LogRun& run = *current_;
        if (message == Message(kLogStopping)) {
            run.stop = timestamp;
            run.stopped = true;
        } else if (message.starts_with(kLogRemoving)) {
            Outcome(message.substr(kLogRemoving.size()), true);
            pendingName_ = std::wstring(message.substr(kLogRemoving.size()));
            pendingProgram_.reset();
        } else if (message.starts_with(kLogFailedToRemove)) {
            Outcome(message.substr(kLogFailedToRemove.size()), false);
        } else if (message.starts_with(kLogUserDeclined)) {
            const std::wstring_view name = message.substr(kLogUserDeclined.size());
            if (declined_.emplace(name).second) run.declined.emplace_back(name);
        } else if (message.starts_with(kLogAttemptingToRun)) {
            Program(message.substr(kLogAttemptingToRun.size()), ProgramRun::Status::Running);
        } else if (message.starts_with(kLogExitCode)) {
            if (ProgramRun* program = Unfinished()) {
                program->status = ProgramRun::Status::Exited;
                program->exitCode = message.substr(kLogExitCode.size());
            }
        } else if (message == Message(kLogFailedToLaunch)) {
            if (ProgramRun* program = Unfinished())
                program->status = ProgramRun::Status::FailedToLaunch;
        } else if (message.starts_with(kLogCommandTooLong)) {
            Program(message.substr(kLogCommandTooLong.size()), ProgramRun::Status::Refused);
        } else if (message.starts_with(kLogProgramNotFound)) {
            Program(message.substr(kLogProgramNotFound.size()), ProgramRun::Status::NotFound);
        } else if (message.starts_with(kLogProgramLookedUp)) {
            lookedUp_ = true;
        } else if (message.starts_with(kLogProgramNotInSafeFolders)) {
            lookedUp_ = true;
            Program(message.substr(kLogProgramNotInSafeFolders.size()),
                    ProgramRun::Status::Refused);
        } else if (message.starts_with(kLogProgramUserWritable)) {
            // "(<who may do what>): <command>"
            const std::size_t end = message.find(kLogProgramUserWritableEnd);
            Program(end == std::wstring_view::npos
                        ? std::wstring_view()
                        : message.substr(end + kLogProgramUserWritableEnd.size()),
                    ProgramRun::Status::Refused);
        } else if (message == Message(kLogAegiraNotInstalled)) {
            run.aegira = AegiraState::NotInstalled;
        } else if (message.starts_with(kLogAegira) && message.ends_with(Message(kLogIsInstalled))) {
            run.aegira = AegiraState::Installed;
            const std::wstring_view rest = message.substr(kLogAegira.size());
            run.aegiraVersion = rest.substr(0, rest.size() - Message(kLogIsInstalled).size());
        } else if (message == Message(kLogAddedUserRunOnce) ||
                   message == Message(kLogAddedMachineRunOnce)) {
            run.restartRequested = true;
        } else if (message == Message(kLogFailedUserRunOnce) ||
                   message == Message(kLogFailedMachineRunOnce) ||
                   message == Message(kLogResumeCommandRefused)) {
            run.restartRegistrationFailed = true;
        }
    }

    // A program run or refused. The first after a " Removing: " line is that
    // product's uninstaller, even when it was refused: the program after it
    // (another product's, or Aegira's installer) is not.
    void Program(std::wstring_view commandLine, ProgramRun::Status status) {
        LogRun& run = *current_;
        run.programs.push_back({std::wstring(commandLine), status, {}, false, lookedUp_});
        lookedUp_ = false;
        if (pendingName_ && !pendingProgram_) {
            pendingProgram_ = run.programs.size() - 1;
            run.programs.back().uninstaller = true;
        }
    }

    // The last program that has no outcome yet.
    [[nodiscard]] ProgramRun* Unfinished() {
        if (current_ == nullptr || current_->programs.empty()) return nullptr;
        ProgramRun& last = current_->programs.back();
        return last.status == ProgramRun::Status::Running ? &last : nullptr;
    }

    // The last word on a display name wins: a product that failed once and
    // was removed at a later meeting is removed. Looked up through an index:
    // a log of many products stays linear.
    void Outcome(std::wstring_view name, bool removing) {
        std::wstring failedCode;
        if (!removing && pendingName_ == name && pendingProgram_) {
            for (std::size_t i = current_->programs.size(); i-- > *pendingProgram_;) {
                const ProgramRun& program = current_->programs[i];
                if (program.status == ProgramRun::Status::Exited) {
                    failedCode = program.exitCode;
                    break;
                }
            }
        }
        const auto at = outcomeIndex_.find(name);
        if (at == outcomeIndex_.end()) {
            outcomes_.push_back({std::wstring(name), removing, std::move(failedCode)});
            outcomeIndex_.emplace(outcomes_.back().name, &outcomes_.back());
        } else {
            at->second->removed = removing;
            at->second->failedCode = std::move(failedCode);
        }
        if (!removing && pendingName_ == name) pendingName_.reset();
    }

public:
    // Called whenever a run is complete (the next begins, or the file ends).
    void CloseCurrent() {
        if (current_ == nullptr) return;
        LogRun& run = *current_;
        for (ProductOutcome& outcome : outcomes_) {
            const bool removed = outcome.removed;
            bool interrupted = false;
            if (removed && !run.stopped && pendingName_ && *pendingName_ == outcome.name) {
                // The log ends before this product's verdict, and its
                // uninstaller did not run to an exit code (still running,
                // refused, or never started): nobody knows whether it was
                // removed.
                interrupted = !pendingProgram_ ||
                              run.programs[*pendingProgram_].status != ProgramRun::Status::Exited;
            }
            if (!interrupted && !removed)
                run.failedExitCodes.push_back(std::move(outcome.failedCode));
            (interrupted ? run.interrupted
             : removed   ? run.removed
                         : run.failed)
                .push_back(std::move(outcome.name));
        }
        outcomeIndex_.clear();
        outcomes_.clear();
        declined_.clear();
        current_ = nullptr;
    }

    void BeforeLine(std::wstring_view line) {
        // A new run closes the one before it.
        const bool computer =
            line.starts_with(kLogComputerName) ||
            (line.size() > kTimestampLength && IsTimestamp(line.substr(0, kTimestampLength)) &&
             line.substr(kTimestampLength).starts_with(kLogComputerName));
        const bool start = line.size() > kTimestampLength &&
                           IsTimestamp(line.substr(0, kTimestampLength)) &&
                           Message(line.substr(kTimestampLength)) == Message(kLogStarting);
        if (computer || (start && !awaitingStart_)) CloseCurrent();
    }

private:
    LogFileReport& report_;
    LogRun* current_ = nullptr;
    bool awaitingStart_ = false;
    std::size_t recognised_ = 0;
    std::size_t outsideRuns_ = 0;
    std::size_t timestampsWithoutMessage_ = 0;
    struct ProductOutcome {
        std::wstring name;
        bool removed = false;     // last seen removing
        std::wstring failedCode;  // its uninstaller's last exit code, when it failed
    };
    // In the order first met; a deque, so the index may point into it.
    std::deque<ProductOutcome> outcomes_;
    std::unordered_map<std::wstring_view, ProductOutcome*> outcomeIndex_;
    std::unordered_set<std::wstring> declined_;
    std::optional<std::wstring> pendingName_;    // the last " Removing: " name
    std::optional<std::size_t> pendingProgram_;  // ...and its uninstaller
    bool lookedUp_ = false;                      // the next program was named without a folder
};

[[nodiscard]] std::wstring AegiraText(const LogRun& run) {
    switch (run.aegira) {
        case AegiraState::Installed:
            return run.aegiraVersion + L" installed";
        case AegiraState::NotInstalled:
            return L"NOT installed";
        case AegiraState::NotLogged:
            break;
    }
    return L"not logged";
}

void AppendProgramText(std::wstring& out, const ProgramRun& program) {
    out += program.commandLine;
    switch (program.status) {
        case ProgramRun::Status::Exited:
            out += L" => ";
            out += program.exitCode;
            return;
        case ProgramRun::Status::FailedToLaunch:
            out += L" => failed to launch";
            return;
        case ProgramRun::Status::Refused:
            out += L" => refused (too long)";
            return;
        case ProgramRun::Status::NotFound:
            out += L" => refused (program not found)";
            return;
        case ProgramRun::Status::Running:
            break;
    }
    out += L" => no exit code logged";
}

[[nodiscard]] bool ProgramNotZero(const ProgramRun& program) {
    return program.status != ProgramRun::Status::Exited || program.exitCode != L"0";
}

[[nodiscard]] std::wstring RunNotes(const LogFileReport& file, const LogRun& run, bool last) {
    std::vector<std::wstring> notes;
    if (!run.stopped) {
        notes.push_back(last ? L"no stop line: still running, or ended abruptly (restart, crash, "
                               L"end of task)"
                             : L"ended without its stop line (restart, crash, end of task)");
    }
    if (run.start.empty()) notes.push_back(L"no start line");
    if (run.restartRegistrationFailed) notes.push_back(L"the restart could not be registered");
    for (const std::wstring& message : run.messages) notes.push_back(L"message: " + message);
    if (last) {
        for (const std::wstring& problem : file.problems) notes.push_back(problem);
    }
    return Join(notes, L"; ");
}

[[nodiscard]] std::wstring ListOrDash(const std::vector<std::wstring>& items) {
    return items.empty() ? std::wstring(L"-") : Join(items, L"; ");
}

[[nodiscard]] std::wstring ProgramsText(const LogRun& run) {
    if (run.programs.empty()) return L"-";
    std::wstring text;
    for (const ProgramRun& program : run.programs) {
        if (!text.empty()) text += L"; ";
        AppendProgramText(text, program);
    }
    return text;
}

}  // namespace

bool IsRunLogName(std::wstring_view fileName) noexcept {
    return fileName.size() > kLogFilePrefix.size() + kLogFileSuffix.size() &&
           EqualsNoCase(fileName.substr(0, kLogFilePrefix.size()), kLogFilePrefix) &&
           EqualsNoCase(fileName.substr(fileName.size() - kLogFileSuffix.size()), kLogFileSuffix);
}

LogFileReport UnreadableRunLog(std::wstring_view fileName, std::wstring_view why) {
    LogFileReport report;
    report.fileName = fileName;
    report.problems.emplace_back(why);
    return report;
}

LogFileReport ReadRunLog(std::wstring_view fileName, std::span<const std::uint8_t> bytes) {
    LogFileReport report;
    report.fileName = fileName;
    if (bytes.empty()) {
        report.problems.push_back(L"the file is empty");
        return report;
    }
    if (bytes.size() % 2 != 0) {
        report.problems.push_back(
            L"an odd number of bytes: the file was cut in the middle of a "
            L"character");
    }
    // Decoded one line at a time into one buffer: a log of hundreds of
    // megabytes is never held twice.
    const std::size_t units = bytes.size() / 2;
    const auto unit = [&](std::size_t i) {
        return static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    };
    std::size_t at = 0;
    if (units > 0 && unit(0) == kByteOrderMark) {
        report.problems.push_back(L"starts with a byte-order mark, which Clearon never writes");
        at = 1;
    }

    RunReader reader(report);
    bool cutMidLine = false;
    std::wstring line;
    while (at < units) {
        line.clear();
        bool ended = false;
        while (at < units) {
            const wchar_t c = unit(at++);
            if (c == L'\r' && at < units && unit(at) == L'\n') {
                ++at;
                ended = true;
                break;
            }
            line.push_back(c);
        }
        cutMidLine = !ended;
        reader.BeforeLine(line);
        reader.Line(line);
    }
    reader.CloseCurrent();
    reader.Finish(cutMidLine);
    if (!report.isClearonLog) {
        report.runs.clear();
        report.problems.clear();
        report.problems.push_back(
            LooksLikeByteText(bytes)
                ? L"not a Clearon log: single-byte text (ASCII, ANSI or UTF-8), where Clearon "
                  L"writes UTF-16 LE"
                : L"not a Clearon log: no computer-name or timestamped line in it");
    }
    return report;
}

ReportTotals TotalReport(const std::vector<LogFileReport>& files) {
    ReportTotals totals;
    std::map<std::wstring, bool> aegiraByComputer;  // the last run of each computer
    for (const LogFileReport& file : files) {
        ++totals.files;
        if (!file.isClearonLog) ++totals.foreignFiles;
        if (!file.problems.empty()) ++totals.filesWithProblems;
        for (const LogRun& run : file.runs) {
            ++totals.runs;
            if (!run.stopped) ++totals.runsWithoutStop;
            totals.removed += run.removed.size();
            totals.declined += run.declined.size();
            totals.failed += run.failed.size();
            totals.programs += run.programs.size();
            totals.programsNotZero += static_cast<std::size_t>(
                std::count_if(run.programs.begin(), run.programs.end(), ProgramNotZero));
            if (run.restartRequested) ++totals.restarts;
            std::wstring computer = run.computer;
            for (wchar_t& c : computer) c = FoldAscii(c);
            if (run.aegira != AegiraState::NotLogged || !aegiraByComputer.contains(computer)) {
                aegiraByComputer[computer] = run.aegira == AegiraState::Installed;
            }
        }
    }
    totals.computers = aegiraByComputer.size();
    for (const auto& [computer, installed] : aegiraByComputer) {
        if (installed) ++totals.aegiraInstalled;
    }
    return totals;
}

std::wstring FormatReportText(const std::vector<LogFileReport>& files) {
    std::wstring out;
    for (const LogFileReport& file : files) {
        if (file.runs.empty()) {
            out += file.fileName + L": " +
                   (file.problems.empty() ? std::wstring(L"no runs") : Join(file.problems, L"; ")) +
                   L"\n";
            continue;
        }
        for (std::size_t i = 0; i < file.runs.size(); ++i) {
            const LogRun& run = file.runs[i];
            const bool last = i + 1 == file.runs.size();
            out += run.computer.empty() ? file.fileName : run.computer;
            out += L" | " + (run.start.empty() ? std::wstring(L"?") : run.start);
            out += L" - " + (run.stop.empty() ? std::wstring(L"?") : run.stop);
            out += L" | removed: " + ListOrDash(run.removed);
            out += L" | declined: " + ListOrDash(run.declined);
            out += L" | failed: " + ListOrDash(run.failed);
            if (!run.interrupted.empty()) out += L" | interrupted: " + ListOrDash(run.interrupted);
            out += L" | programs: " + ProgramsText(run);
            out += L" | Aegira: " + AegiraText(run);
            out += L" | restart requested: " + std::wstring(run.restartRequested ? L"yes" : L"no");
            out += L" | stop line: " + std::wstring(run.stopped ? L"yes" : L"NO");
            const std::wstring notes = RunNotes(file, run, last);
            if (!notes.empty()) out += L" | " + notes;
            out += L"\n";
        }
    }
    const ReportTotals t = TotalReport(files);
    out += L"Totals: " + std::to_wstring(t.files) + L" file(s) (" +
           std::to_wstring(t.foreignFiles) + L" not Clearon's, " +
           std::to_wstring(t.filesWithProblems) + L" with problems), " +
           std::to_wstring(t.computers) + L" computer(s), " + std::to_wstring(t.runs) +
           L" run(s) (" + std::to_wstring(t.runsWithoutStop) + L" without stop line), " +
           std::to_wstring(t.removed) + L" removed, " + std::to_wstring(t.declined) +
           L" declined, " + std::to_wstring(t.failed) + L" failed, " + std::to_wstring(t.programs) +
           L" program(s) run (" + std::to_wstring(t.programsNotZero) + L" not ending with 0), " +
           std::to_wstring(t.restarts) + L" restart(s) requested, Aegira installed on " +
           std::to_wstring(t.aegiraInstalled) + L" computer(s)\n";
    return out;
}

namespace {

[[nodiscard]] bool CsvFieldNeedsApostrophe(std::wstring_view text) noexcept {
    return !text.empty() &&
           (text.front() == L'=' || text.front() == L'+' || text.front() == L'-' ||
            text.front() == L'@' || text.front() == L'\t' || text.front() == L'\r');
}

[[nodiscard]] bool CsvFieldNeedsQuotes(std::wstring_view text) noexcept {
    return text.find_first_of(L",\"\r\n") != std::wstring_view::npos ||
           (!text.empty() && (text.front() == L' ' || text.back() == L' '));
}

[[nodiscard]] bool CsvFieldNeedsEscape(std::wstring_view text) noexcept {
    return CsvFieldNeedsApostrophe(text) || CsvFieldNeedsQuotes(text);
}

// Appends one CSV field to `out`, as CsvField forms it.
void AppendCsvField(std::wstring& out, std::wstring_view text) {
    const bool apostrophe = CsvFieldNeedsApostrophe(text);
    const bool quote = CsvFieldNeedsQuotes(text);
    if (quote) out.push_back(L'"');
    if (apostrophe) out.push_back(L'\'');
    if (!quote) {
        out.append(text);
        return;
    }
    for (std::size_t from = 0;;) {
        const std::size_t q = text.find(L'"', from);
        out.append(text.substr(from, q == std::wstring_view::npos ? q : q + 1 - from));
        if (q == std::wstring_view::npos) break;
        out.push_back(L'"');
        from = q + 1;
    }
    out.push_back(L'"');
}

// Writes a row's fields straight into the report: a field is appended as it
// is and escaped in place only when it needs it, so the long lists of a large
// run are copied once.
class CsvRow {
public:
    explicit CsvRow(std::wstring& out) : out_(out) {}

    CsvRow& Field(std::wstring_view text) {
        const std::size_t from = Begin();
        out_.append(text);
        return End(from);
    }

    // Items joined with "; ", each written by `text(out, item)`.
    template <typename Items, typename Text>
    CsvRow& List(const Items& items, Text&& text) {
        const std::size_t from = Begin();
        bool first = true;
        for (const auto& item : items) {
            if (!first) out_ += L"; ";
            first = false;
            text(out_, item);
        }
        return End(from);
    }

    CsvRow& List(const std::vector<std::wstring>& items) {
        return List(items, [](std::wstring& to, const std::wstring& item) { to += item; });
    }

    void EndRow() {
        out_ += L"\r\n";
        firstField_ = true;
    }

private:
    std::size_t Begin() {
        if (!firstField_) out_.push_back(L',');
        firstField_ = false;
        return out_.size();
    }

    CsvRow& End(std::size_t from) {
        const std::wstring_view field = std::wstring_view(out_).substr(from);
        if (CsvFieldNeedsEscape(field)) {
            std::wstring escaped;
            AppendCsvField(escaped, field);
            out_.resize(from);
            out_ += escaped;
        }
        return *this;
    }

    std::wstring& out_;
    bool firstField_ = true;
};

}  // namespace

std::wstring CsvField(std::wstring_view text) {
    std::wstring field;
    AppendCsvField(field, text);
    return field;
}

std::wstring FormatReportCsv(const std::vector<LogFileReport>& files) {
    std::wstring out(kCsvHeader);
    out += L"\r\n";
    CsvRow row(out);
    for (const LogFileReport& file : files) {
        if (file.runs.empty()) {
            row.Field(file.fileName);
            for (int i = 0; i < 11; ++i) row.Field({});
            row.List(file.problems).EndRow();
            continue;
        }
        for (std::size_t i = 0; i < file.runs.size(); ++i) {
            const LogRun& run = file.runs[i];
            row.Field(file.fileName).Field(run.computer).Field(run.start).Field(run.stop);
            row.List(run.removed).List(run.declined).List(run.failed).List(run.interrupted);
            row.List(run.programs, AppendProgramText);
            row.Field(AegiraText(run))
                .Field(run.restartRequested ? L"yes" : L"no")
                .Field(run.stopped ? L"yes" : L"no")
                .Field(RunNotes(file, run, i + 1 == file.runs.size()))
                .EndRow();
        }
    }
    return out;
}

}  // namespace clearon::check
