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

// Calls `piece(text)` for each piece of a program's text, in order: its
// command line and what became of it.
template <typename Piece>
void ProgramPieces(const ProgramRun& program, Piece&& piece) {
    piece(program.commandLine);
    switch (program.status) {
        case ProgramRun::Status::Exited:
            piece(L" => ");
            piece(program.exitCode);
            return;
        case ProgramRun::Status::FailedToLaunch:
            piece(L" => failed to launch");
            return;
        case ProgramRun::Status::Refused:
            piece(L" => refused (too long)");
            return;
        case ProgramRun::Status::NotFound:
            piece(L" => refused (program not found)");
            return;
        case ProgramRun::Status::UserWritable:
            piece(L" => refused (others than administrators can change it)");
            return;
        case ProgramRun::Status::NotInSafeFolders:
            piece(L" => refused (neither beside Clearon.exe nor in the system folders)");
            return;
        case ProgramRun::Status::Running:
            break;
    }
    piece(L" => no exit code logged");
}

// Calls `piece(text)` for each piece of `items` joined with "; ", each item
// cut into pieces by `itemPieces(item, piece)`.
template <typename Items, typename ItemPieces, typename Piece>
void ListPieces(const Items& items, ItemPieces&& itemPieces, Piece&& piece) {
    bool first = true;
    for (const auto& item : items) {
        if (!first) piece(L"; ");
        first = false;
        itemPieces(item, piece);
    }
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

[[nodiscard]] bool CsvFieldNeedsApostrophe(wchar_t front) noexcept {
    return front == L'=' || front == L'+' || front == L'-' || front == L'@' || front == L'\t' ||
           front == L'\r';
}

// A comma, a quote or a line end. Tested character by character: a search
// for any of a set costs a search of the set for every character.
[[nodiscard]] bool HoldsCsvSpecial(std::wstring_view text) noexcept {
    for (const wchar_t c : text) {
        if (c == L',' || c == L'"' || c == L'\r' || c == L'\n') return true;
    }
    return false;
}

// Appends `text` to a quoted field, its quotes doubled.
void AppendQuoted(std::wstring& out, std::wstring_view text) {
    for (std::size_t from = 0;;) {
        const std::size_t q = text.find(L'"', from);
        out.append(text.substr(from, q == std::wstring_view::npos ? q : q + 1 - from));
        if (q == std::wstring_view::npos) break;
        out.push_back(L'"');
        from = q + 1;
    }
}

// Hands `out` on once this much of it is waiting.
void SpillIfFull(std::wstring& out, const ReportWriter::Flush& flush) {
    constexpr std::size_t kFlushChars = 64 * 1024;
    if (flush && out.size() >= kFlushChars) flush(out);
}

// Appends one CSV field, as CsvField forms it, from the pieces that
// `pieces(piece)` hands to `piece(text)` in order. The pieces are gone
// through twice: first to learn whether the field needs quotes or an
// apostrophe, then to write it, so that a field of a quarter of a million
// programs goes out as it is written instead of being built and escaped
// whole.
template <typename Pieces>
void AppendCsvPieces(std::wstring& out, Pieces&& pieces, const ReportWriter::Flush& flush) {
    bool any = false;  // a character, which may be a zero one: logs may hold anything
    wchar_t front = 0;
    wchar_t back = 0;
    bool special = false;
    pieces([&](std::wstring_view text) {
        if (text.empty()) return;
        if (!any) front = text.front();
        any = true;
        back = text.back();
        special = special || HoldsCsvSpecial(text);
    });
    const bool quote = special || front == L' ' || back == L' ';
    if (quote) out.push_back(L'"');
    if (CsvFieldNeedsApostrophe(front)) out.push_back(L'\'');
    pieces([&](std::wstring_view text) {
        if (quote) {
            AppendQuoted(out, text);
        } else {
            out.append(text);
        }
        SpillIfFull(out, flush);
    });
    if (quote) out.push_back(L'"');
}

// Writes a row's fields straight into the report, handing it on as it fills.
class CsvRow {
public:
    CsvRow(std::wstring& out, const ReportWriter::Flush& flush) : out_(out), flush_(flush) {}

    CsvRow& Field(std::wstring_view text) {
        return Pieces([&](const auto& piece) { piece(text); });
    }

    // Items joined with "; ", each cut into pieces by `itemPieces(item, piece)`.
    template <typename Items, typename ItemPieces>
    CsvRow& List(const Items& items, ItemPieces&& itemPieces) {
        return Pieces([&](const auto& piece) { ListPieces(items, itemPieces, piece); });
    }

    CsvRow& List(const std::vector<std::wstring>& items) {
        return List(items, [](const std::wstring& item, const auto& piece) { piece(item); });
    }

    // A field handed over in pieces by `pieces(piece)`.
    template <typename P>
    CsvRow& Pieces(P&& pieces) {
        if (!firstField_) out_.push_back(L',');
        firstField_ = false;
        AppendCsvPieces(out_, pieces, flush_);
        return *this;
    }

    void EndRow() {
        out_ += L"\r\n";
        firstField_ = true;
    }

private:
    std::wstring& out_;
    const ReportWriter::Flush& flush_;
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

}  // namespace

std::wstring CsvField(std::wstring_view text) {
    std::wstring field;
    AppendCsvPieces(field, [&](const auto& piece) { piece(text); }, {});
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

void ReportWriter::Spill() {
    SpillIfFull(out_, flush_);
}

void ReportWriter::TextRow(const LogFileReport& file, const LogRun& run, bool last) {
    std::wstring& out = out_;
    const auto piece = [&](std::wstring_view text) {
        out += text;
        Spill();
    };
    const auto names = [&](std::wstring_view label, const std::vector<std::wstring>& items) {
        out += label;
        if (items.empty()) {
            out += L'-';
            return;
        }
        // As these lists have always read: no separator until a name that
        // is not empty has been written.
        bool any = false;
        for (const std::wstring& item : items) {
            if (any) out += L"; ";
            out += item;
            any = any || !item.empty();
            Spill();
        }
    };
    out += run.computer.empty() ? file.fileName : run.computer;
    out += L" | " + (run.start.empty() ? std::wstring(L"?") : run.start);
    out += L" - " + (run.stop.empty() ? std::wstring(L"?") : run.stop);
    names(L" | removed: ", run.removed);
    names(L" | declined: ", run.declined);
    names(L" | failed: ", run.failed);
    if (!run.interrupted.empty()) names(L" | interrupted: ", run.interrupted);
    out += L" | programs: ";
    if (run.programs.empty()) {
        out += L'-';
    } else {
        ListPieces(
            run.programs,
            [](const ProgramRun& program, const auto& to) { ProgramPieces(program, to); }, piece);
    }
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
    CsvRow row(out_, flush_);
    row.Field(file.fileName).Field(run.computer).Field(run.start).Field(run.stop);
    row.List(run.removed).List(run.declined).List(run.failed).List(run.interrupted);
    row.List(run.programs,
             [](const ProgramRun& program, const auto& piece) { ProgramPieces(program, piece); });
    row.Field(AegiraText(run))
        .Field(run.restartRequested ? L"yes" : L"no")
        .Field(run.stopped ? L"yes" : L"no");
    // The notes, which hold every message of the run.
    row.Pieces([&](const auto& piece) {
        bool first = true;
        ForEachNote(file, run, last, [&](std::wstring_view text, std::wstring_view more) {
            if (!first) piece(L"; ");
            first = false;
            piece(text);
            piece(more);
        });
    });
    row.EndRow();
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
                CsvRow row(out_, flush_);
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

std::size_t LogsWithinInput(std::span<const std::uint64_t> sizes, std::uint64_t maxInput) noexcept {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] > kMaxRunLogBytes) continue;
        if (sizes[i] > maxInput - total) return i;
        total += sizes[i];
    }
    return sizes.size();
}

}  // namespace clearon::check
