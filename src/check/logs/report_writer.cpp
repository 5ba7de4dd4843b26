#include "check/logs/report_writer.h"

#include <algorithm>

#include "check/cli/check_json.h"
#include "check/cli/check_text.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

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
        case ProgramRun::Status::UserWritable:
            out += L" => refused (others than administrators can change it)";
            return;
        case ProgramRun::Status::NotInSafeFolders:
            out += L" => refused (neither beside Clearon.exe nor in the system folders)";
            return;
        case ProgramRun::Status::Running:
            break;
    }
    out += L" => no exit code logged";
}

[[nodiscard]] bool ProgramNotZero(const ProgramRun& program) {
    return program.status != ProgramRun::Status::Exited || program.exitCode != L"0";
}

// Calls `note(text, more)` for each note of a run, in order: the row's last
// column, which holds every message of the run and may be very long.
template <typename Note>
void ForEachNote(const LogFileReport& file, const LogRun& run, bool last, Note&& note) {
    if (!run.stopped) {
        note(last ? L"no stop line: still running, or ended abruptly (restart, crash, end of task)"
                  : L"ended without its stop line (restart, crash, end of task)",
             L"");
    }
    if (run.start.empty()) note(L"no start line", L"");
    if (run.restartRegistrationFailed) note(L"the restart could not be registered", L"");
    run.messages.ForEach([&](std::wstring_view message) { note(L"message: ", message); });
    if (last) {
        for (const std::wstring& problem : file.problems) note(problem, L"");
    }
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

void TextTotals(std::wstring& out, const ReportTotals& t) {
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
}

// Whether the notes, joined with "; ", need quotes or an apostrophe as a CSV
// field: found in a first pass, so the field can be written in pieces.
struct NotesShape {
    bool any = false;
    wchar_t front = 0;
    wchar_t back = 0;
    bool special = false;  // a comma, quote or line end inside
};

[[nodiscard]] NotesShape ShapeOfNotes(const LogFileReport& file, const LogRun& run, bool last) {
    NotesShape shape;
    const auto piece = [&](std::wstring_view text) {
        if (text.empty()) return;
        if (shape.front == 0) shape.front = text.front();
        shape.back = text.back();
        shape.special = shape.special || text.find_first_of(L",\"\r\n") != std::wstring_view::npos;
    };
    ForEachNote(file, run, last, [&](std::wstring_view text, std::wstring_view more) {
        if (shape.any) piece(L"; ");
        shape.any = true;
        piece(text);
        piece(more);
    });
    return shape;
}

}  // namespace

std::wstring CsvField(std::wstring_view text) {
    std::wstring field;
    AppendCsvField(field, text);
    return field;
}

void ReportCounter::File(const LogFileReport& file) {
    ++totals_.files;
    if (!file.isClearonLog) ++totals_.foreignFiles;
    if (!file.problems.empty()) ++totals_.filesWithProblems;
}

void ReportCounter::Run(const LogRun& run) {
    ++totals_.runs;
    if (!run.stopped) ++totals_.runsWithoutStop;
    totals_.removed += run.removed.size();
    totals_.declined += run.declined.size();
    totals_.failed += run.failed.size();
    totals_.programs += run.programs.size();
    totals_.programsNotZero += static_cast<std::size_t>(
        std::count_if(run.programs.begin(), run.programs.end(), ProgramNotZero));
    if (run.restartRequested) ++totals_.restarts;
    std::wstring computer = run.computer;
    for (wchar_t& c : computer) c = FoldAscii(c);
    if (run.aegira != AegiraState::NotLogged || !aegiraByComputer_.contains(computer)) {
        aegiraByComputer_[computer] = run.aegira == AegiraState::Installed;
    }
}

ReportTotals ReportCounter::Totals() const {
    ReportTotals totals = totals_;
    totals.computers = aegiraByComputer_.size();
    for (const auto& [computer, installed] : aegiraByComputer_) {
        if (installed) ++totals.aegiraInstalled;
    }
    return totals;
}

ReportTotals TotalReport(const std::vector<LogFileReport>& files) {
    ReportCounter counter;
    for (const LogFileReport& file : files) {
        counter.File(file);
        for (const LogRun& run : file.runs) counter.Run(run);
    }
    return counter.Totals();
}

// Output is handed on once this much of it is waiting.
constexpr std::size_t kFlushChars = 64 * 1024;

void ReportWriter::Spill() {
    if (flush_ && out_.size() >= kFlushChars) flush_(out_);
}

void ReportWriter::TextRow(const LogFileReport& file, const LogRun& run, bool last) {
    std::wstring& out = out_;
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
    bool first = true;
    ForEachNote(file, run, last, [&](std::wstring_view text, std::wstring_view more) {
        out += first ? L" | " : L"; ";
        first = false;
        out += text;
        out += more;
        Spill();
    });
    out += L"\n";
}

void ReportWriter::CsvRunRow(const LogFileReport& file, const LogRun& run, bool last) {
    CsvRow row(out_);
    row.Field(file.fileName).Field(run.computer).Field(run.start).Field(run.stop);
    row.List(run.removed).List(run.declined).List(run.failed).List(run.interrupted);
    row.List(run.programs, AppendProgramText);
    row.Field(AegiraText(run))
        .Field(run.restartRequested ? L"yes" : L"no")
        .Field(run.stopped ? L"yes" : L"no");
    // The notes, in pieces: quoted and marked as CsvField would do it whole.
    const NotesShape shape = ShapeOfNotes(file, run, last);
    const bool quote = shape.special || shape.front == L' ' || shape.back == L' ';
    const bool apostrophe = shape.front == L'=' || shape.front == L'+' || shape.front == L'-' ||
                            shape.front == L'@' || shape.front == L'\t' || shape.front == L'\r';
    out_ += quote ? L",\"" : L",";
    if (apostrophe) out_ += L'\'';
    const auto piece = [&](std::wstring_view text) {
        if (!quote) {
            out_ += text;
            return;
        }
        for (const wchar_t c : text) {
            if (c == L'"') out_ += L'"';
            out_ += c;
        }
    };
    bool first = true;
    ForEachNote(file, run, last, [&](std::wstring_view text, std::wstring_view more) {
        if (!first) piece(L"; ");
        first = false;
        piece(text);
        piece(more);
        Spill();
    });
    if (quote) out_ += L'"';
    out_ += L"\r\n";
}

ReportWriter::ReportWriter(ReportFormat format, std::wstring& out, Flush flush)
    : format_(format), out_(out), flush_(std::move(flush)) {
    if (format_ == ReportFormat::Csv) {
        out_ += kCsvHeader;
        out_ += L"\r\n";
    } else if (format_ == ReportFormat::Json) {
        out_ += L"{\n  \"schema\": " + JsonString(FromUtf8(kReportSchema)) + L",\n  \"files\": [";
    }
}

void ReportWriter::BeginFile(const LogFileReport& file) {
    runsInFile_ = 0;
    if (format_ == ReportFormat::Json) {
        out_ += firstFile_ ? L"\n    {\n      \"file\": " : L",\n    {\n      \"file\": ";
        out_ += JsonString(file.fileName);
        out_ += L",\n      \"clearon_log\": ";
        out_ += file.isClearonLog ? L"true" : L"false";
        out_ += L",\n      \"problems\": " + JsonTexts(file.problems, 6) + L",\n      \"runs\": [";
    }
    firstFile_ = false;
}

void ReportWriter::Run(const LogFileReport& file, const LogRun& run, bool last) {
    counter_.Run(run);
    switch (format_) {
        case ReportFormat::Text:
            TextRow(file, run, last);
            break;
        case ReportFormat::Csv:
            CsvRunRow(file, run, last);
            break;
        case ReportFormat::Json:
            out_ += runsInFile_ == 0 ? L"\n        " : L",\n        ";
            AppendRunJson(out_, run, 8, [this] { Spill(); });
            break;
    }
    ++runsInFile_;
    Spill();
}

void ReportWriter::EndFile(const LogFileReport& file) {
    counter_.File(file);
    switch (format_) {
        case ReportFormat::Text:
            if (runsInFile_ == 0) {
                out_ += file.fileName + L": " +
                        (file.problems.empty() ? std::wstring(L"no runs")
                                               : Join(file.problems, L"; ")) +
                        L"\n";
            }
            break;
        case ReportFormat::Csv:
            if (runsInFile_ == 0) {
                CsvRow row(out_);
                row.Field(file.fileName);
                for (int i = 0; i < 11; ++i) row.Field({});
                row.List(file.problems).EndRow();
            }
            break;
        case ReportFormat::Json:
            out_ += runsInFile_ == 0 ? L"]\n    }" : L"\n      ]\n    }";
            break;
    }
}

void ReportWriter::End() {
    const ReportTotals totals = counter_.Totals();
    if (format_ == ReportFormat::Text) {
        TextTotals(out_, totals);
    } else if (format_ == ReportFormat::Json) {
        out_ += firstFile_ ? L"],\n  \"totals\": " : L"\n  ],\n  \"totals\": ";
        out_ += TotalsJsonAt(totals, 2) + L"\n}\n";
    }
}

namespace {

[[nodiscard]] std::wstring FormatReport(ReportFormat format,
                                        const std::vector<LogFileReport>& files) {
    std::wstring out;
    ReportWriter writer(format, out);
    for (const LogFileReport& file : files) {
        writer.BeginFile(file);
        for (std::size_t i = 0; i < file.runs.size(); ++i)
            writer.Run(file, file.runs[i], i + 1 == file.runs.size());
        writer.EndFile(file);
    }
    writer.End();
    return out;
}

}  // namespace

std::wstring FormatReportText(const std::vector<LogFileReport>& files) {
    return FormatReport(ReportFormat::Text, files);
}

std::wstring FormatReportCsv(const std::vector<LogFileReport>& files) {
    return FormatReport(ReportFormat::Csv, files);
}

std::wstring ReportJson(const std::vector<LogFileReport>& files) {
    return FormatReport(ReportFormat::Json, files);
}

}  // namespace clearon::check
