#include "check/log_report.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "check/check_text.h"
#include "removal/command_line.h"
#include "config/settings.h"
#include "log/log_format.h"
#include "removal/product_discovery.h"
#include "removal/uninstall_command.h"
#include "resume/reboot_resume.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

constexpr wchar_t kByteOrderMark = 0xFEFF;

// A log message as it stands in a line: without its closing "\r\n".
[[nodiscard]] std::wstring_view Message(std::wstring_view text) noexcept {
    if (text.size() >= kLineEnd.size() && text.substr(text.size() - kLineEnd.size()) == kLineEnd) {
        text.remove_suffix(kLineEnd.size());
    }
    return text;
}

[[nodiscard]] bool StartsWith(std::wstring_view text, std::wstring_view prefix) noexcept {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

[[nodiscard]] bool EndsWith(std::wstring_view text, std::wstring_view suffix) noexcept {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
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
        if (StartsWith(line, kLogComputerName)) {
            ComputerLine(line.substr(kLogComputerName.size()));
            return;
        }
        if (line.size() >= kTimestampLength && IsTimestamp(line.substr(0, kTimestampLength))) {
            const std::wstring_view timestamp = line.substr(0, kTimestampLength);
            const std::wstring_view message = line.substr(kTimestampLength);
            if (StartsWith(message, kLogComputerName)) {
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
        outcomes_.clear();
        outcomeIndex_.clear();
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
        } else if (StartsWith(message, kLogRemoving)) {
            Outcome(message.substr(kLogRemoving.size()), true);
            pendingName_ = std::wstring(message.substr(kLogRemoving.size()));
            pendingProgram_.reset();
        } else if (StartsWith(message, kLogFailedToRemove)) {
            Outcome(message.substr(kLogFailedToRemove.size()), false);
        } else if (StartsWith(message, kLogUserDeclined)) {
            const std::wstring_view name = message.substr(kLogUserDeclined.size());
            if (declined_.emplace(name).second) run.declined.emplace_back(name);
        } else if (StartsWith(message, kLogAttemptingToRun)) {
            run.programs.push_back({std::wstring(message.substr(kLogAttemptingToRun.size())),
                                    ProgramRun::Status::Running,
                                    {},
                                    false});
            if (pendingName_ && !pendingProgram_) {
                pendingProgram_ = run.programs.size() - 1;
                run.programs.back().uninstaller = true;
            }
        } else if (StartsWith(message, kLogExitCode)) {
            if (ProgramRun* program = Unfinished()) {
                program->status = ProgramRun::Status::Exited;
                program->exitCode = message.substr(kLogExitCode.size());
            }
        } else if (message == Message(kLogFailedToLaunch)) {
            if (ProgramRun* program = Unfinished())
                program->status = ProgramRun::Status::FailedToLaunch;
        } else if (StartsWith(message, kLogCommandTooLong)) {
            run.programs.push_back(
                {std::wstring(Message(message.substr(kLogCommandTooLong.size()))),
                 ProgramRun::Status::Refused,
                 {},
                 false});
        } else if (message == Message(kLogAegiraNotInstalled)) {
            run.aegira = AegiraState::NotInstalled;
        } else if (StartsWith(message, kLogAegira) && EndsWith(message, Message(kLogIsInstalled))) {
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
        const auto [at, added] = outcomeIndex_.try_emplace(std::wstring(name), outcomes_.size());
        if (added) {
            outcomes_.push_back({std::wstring(name), removing, std::move(failedCode)});
        } else {
            outcomes_[at->second].removed = removing;
            outcomes_[at->second].failedCode = std::move(failedCode);
        }
        if (!removing && pendingName_ == name) pendingName_.reset();
    }

public:
    // Called whenever a run is complete (the next begins, or the file ends).
    void CloseCurrent() {
        if (current_ == nullptr) return;
        LogRun& run = *current_;
        for (const ProductOutcome& outcome : outcomes_) {
            const std::wstring& name = outcome.name;
            const bool removed = outcome.removed;
            bool interrupted = false;
            if (removed && !run.stopped && pendingName_ && *pendingName_ == name) {
                // The log ends while this product's uninstaller had no
                // outcome yet: nobody knows whether it was removed.
                interrupted = !pendingProgram_ ||
                              run.programs[*pendingProgram_].status == ProgramRun::Status::Running;
            }
            (interrupted ? run.interrupted : removed ? run.removed : run.failed).push_back(name);
            if (!interrupted && !removed) run.failedExitCodes.push_back(outcome.failedCode);
        }
        outcomes_.clear();
        outcomeIndex_.clear();
        declined_.clear();
        current_ = nullptr;
    }

    void BeforeLine(std::wstring_view line) {
        // A new run closes the one before it.
        const bool computer =
            StartsWith(line, kLogComputerName) ||
            (line.size() > kTimestampLength && IsTimestamp(line.substr(0, kTimestampLength)) &&
             StartsWith(line.substr(kTimestampLength), kLogComputerName));
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
    std::vector<ProductOutcome> outcomes_;  // in the order first met
    std::unordered_map<std::wstring, std::size_t> outcomeIndex_;
    std::unordered_set<std::wstring> declined_;
    std::optional<std::wstring> pendingName_;    // the last " Removing: " name
    std::optional<std::size_t> pendingProgram_;  // ...and its uninstaller
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

[[nodiscard]] std::wstring ProgramText(const ProgramRun& program) {
    switch (program.status) {
        case ProgramRun::Status::Exited:
            return program.commandLine + L" => " + program.exitCode;
        case ProgramRun::Status::FailedToLaunch:
            return program.commandLine + L" => failed to launch";
        case ProgramRun::Status::Refused:
            return program.commandLine + L" => refused (too long)";
        case ProgramRun::Status::Running:
            break;
    }
    return program.commandLine + L" => no exit code logged";
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
    std::vector<std::wstring> texts;
    for (const ProgramRun& program : run.programs) texts.push_back(ProgramText(program));
    return ListOrDash(texts);
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
    std::wstring text(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    std::wstring_view rest = text;
    if (!rest.empty() && rest.front() == kByteOrderMark) {
        report.problems.push_back(L"starts with a byte-order mark, which Clearon never writes");
        rest.remove_prefix(1);
    }

    RunReader reader(report);
    bool cutMidLine = false;
    while (!rest.empty()) {
        const std::size_t end = rest.find(kLineEnd);
        const std::wstring_view line = rest.substr(0, end);
        if (end == std::wstring_view::npos) cutMidLine = true;
        reader.BeforeLine(line);
        reader.Line(line);
        if (end == std::wstring_view::npos) break;
        rest.remove_prefix(end + kLineEnd.size());
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

std::wstring CsvField(std::wstring_view text) {
    std::wstring field;
    if (!text.empty() && (text.front() == L'=' || text.front() == L'+' || text.front() == L'-' ||
                          text.front() == L'@' || text.front() == L'\t' || text.front() == L'\r')) {
        field.push_back(L'\'');
    }
    field.append(text);
    const bool quote = field.find_first_of(L",\"\r\n") != std::wstring::npos ||
                       (!field.empty() && (field.front() == L' ' || field.back() == L' '));
    if (!quote) return field;
    std::wstring quoted;
    quoted.reserve(field.size() + field.size() / 8 + 2);
    quoted.push_back(L'"');
    for (const wchar_t c : field) {
        if (c == L'"') quoted.push_back(L'"');
        quoted.push_back(c);
    }
    quoted.push_back(L'"');
    return quoted;
}

std::wstring FormatReportCsv(const std::vector<LogFileReport>& files) {
    std::wstring out(kCsvHeader);
    out += L"\r\n";
    const auto row = [&](const std::vector<std::wstring>& fields) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out.push_back(L',');
            out += CsvField(fields[i]);
        }
        out += L"\r\n";
    };
    for (const LogFileReport& file : files) {
        if (file.runs.empty()) {
            row({file.fileName, L"", L"", L"", L"", L"", L"", L"", L"", L"", L"", L"",
                 Join(file.problems, L"; ")});
            continue;
        }
        for (std::size_t i = 0; i < file.runs.size(); ++i) {
            const LogRun& run = file.runs[i];
            std::vector<std::wstring> programs;
            for (const ProgramRun& program : run.programs) programs.push_back(ProgramText(program));
            row({file.fileName, run.computer, run.start, run.stop, Join(run.removed, L"; "),
                 Join(run.declined, L"; "), Join(run.failed, L"; "), Join(run.interrupted, L"; "),
                 Join(programs, L"; "), AegiraText(run), run.restartRequested ? L"yes" : L"no",
                 run.stopped ? L"yes" : L"no", RunNotes(file, run, i + 1 == file.runs.size())});
        }
    }
    return out;
}

}  // namespace clearon::check
