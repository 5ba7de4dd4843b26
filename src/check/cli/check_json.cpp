#include "check/cli/check_json.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "check/cli/check_text.h"

namespace clearon::check {
namespace {

using Json = nlohmann::ordered_json;

[[nodiscard]] std::string U8(std::wstring_view text) {
    return ToUtf8(text);
}

[[nodiscard]] Json Strings(const std::vector<std::wstring>& items) {
    Json list = Json::array();
    for (const std::wstring& item : items) list.push_back(U8(item));
    return list;
}

[[nodiscard]] std::string_view StatusName(ProgramRun::Status status) noexcept {
    switch (status) {
        case ProgramRun::Status::Exited:
            return "exited";
        case ProgramRun::Status::FailedToLaunch:
            return "failed-to-launch";
        case ProgramRun::Status::Refused:
        case ProgramRun::Status::NotFound:
        case ProgramRun::Status::UserWritable:
        case ProgramRun::Status::NotInSafeFolders:
            return "refused";
        case ProgramRun::Status::Running:
            break;
    }
    return "no-exit-code";
}

[[nodiscard]] Json Strings(const TextList& items) {
    Json list = Json::array();
    items.ForEach([&](std::wstring_view item) { list.push_back(U8(item)); });
    return list;
}

// A run, with its messages or without them (the report writes those one by
// one: a run may hold millions).
[[nodiscard]] Json RunJson(const LogRun& run, bool messages = true) {
    Json programs = Json::array();
    for (const ProgramRun& program : run.programs) {
        programs.push_back(
            {{"command_line", U8(program.commandLine)},
             {"status", StatusName(program.status)},
             {"exit_code", program.status == ProgramRun::Status::Exited ? Json(U8(program.exitCode))
                                                                        : Json(nullptr)},
             {"uninstaller", program.uninstaller}});
    }
    const std::string_view aegira = run.aegira == AegiraState::Installed      ? "installed"
                                    : run.aegira == AegiraState::NotInstalled ? "not-installed"
                                                                              : "not-logged";
    Json json = {
        {"computer", U8(run.computer)},
        {"start", U8(run.start)},
        {"stop", U8(run.stop)},
        {"stop_line", run.stopped},
        {"removed", Strings(run.removed)},
        {"declined", Strings(run.declined)},
        {"failed", Strings(run.failed)},
        {"interrupted", Strings(run.interrupted)},
        {"programs", std::move(programs)},
        {"aegira", aegira},
        {"aegira_version",
         run.aegira == AegiraState::Installed ? Json(U8(run.aegiraVersion)) : Json(nullptr)},
        {"restart_requested", run.restartRequested},
        {"restart_registration_failed", run.restartRegistrationFailed}};
    if (messages) json["messages"] = Strings(run.messages);
    return json;
}

[[nodiscard]] std::wstring Dump(const Json& json) {
    // Replace, not throw: every text here was checked to be UTF-8 by ToUtf8,
    // but a dump must never end the program.
    return FromUtf8(json.dump(2, ' ', false, Json::error_handler_t::replace)) + L"\n";
}

}  // namespace

namespace {

// `clearonExitCode` is only given by deploy: result has no process to ask.
[[nodiscard]] std::wstring OutcomeJson(
    const std::wstring& logFile, const LogRun* run, const RunOutcome& outcome,
    const std::optional<std::optional<std::uint32_t>>& deployed) {
    Json json = {
        {"schema", kResultSchema}, {"log_file", U8(logFile)}, {"exit_code", outcome.exitCode}};
    if (deployed) json["clearon_exit_code"] = *deployed ? Json(**deployed) : Json(nullptr);
    json["outcome"] = OutcomeKindName(outcome.kind);
    json["text"] = U8(outcome.text);
    json["run"] = run != nullptr ? RunJson(*run) : Json(nullptr);
    return Dump(json);
}

}  // namespace

std::wstring ResultJson(const std::wstring& logFile, const LogRun* run, const RunOutcome& outcome) {
    return OutcomeJson(logFile, run, outcome, std::nullopt);
}

std::wstring DeployJson(const std::wstring& logFile, const LogRun* run, const RunOutcome& outcome,
                        std::optional<std::uint32_t> clearonExitCode) {
    return OutcomeJson(logFile, run, outcome,
                       std::optional<std::optional<std::uint32_t>>(std::in_place, clearonExitCode));
}

namespace {

// A value dumped with two blanks a level, its inner lines moved right by
// `indent`: a string holds no line end (it is escaped), so every one is the
// layout's own.
[[nodiscard]] std::wstring DumpAt(const Json& json, int indent) {
    const std::string text = json.dump(2, ' ', false, Json::error_handler_t::replace);
    std::string shifted;
    shifted.reserve(text.size());
    for (const char c : text) {
        shifted.push_back(c);
        if (c == '\n') shifted.append(static_cast<std::size_t>(indent), ' ');
    }
    return FromUtf8(shifted);
}

}  // namespace

std::wstring JsonString(std::wstring_view text) {
    return DumpAt(Json(U8(text)), 0);
}

std::wstring JsonTexts(const std::vector<std::wstring>& items, int indent) {
    return DumpAt(Strings(items), indent);
}

void AppendRunJson(std::wstring& out, const LogRun& run, int indent,
                   const std::function<void()>& spill) {
    std::wstring text = DumpAt(RunJson(run, false), indent);
    text.resize(text.size() - static_cast<std::size_t>(indent) - 2);  // its "\n...}"
    out += text;
    const std::wstring pad(static_cast<std::size_t>(indent) + 2, L' ');
    out += L",\n" + pad + L"\"messages\": [";
    if (run.messages.empty()) {
        out += L"]";
    } else {
        bool first = true;
        run.messages.ForEach([&](std::wstring_view message) {
            out += first ? L"\n" : L",\n";
            first = false;
            out += pad;
            out += L"  ";
            out += DumpAt(Json(U8(message)), 0);
            spill();
        });
        out += L"\n" + pad + L"]";
    }
    out += L"\n" + std::wstring(static_cast<std::size_t>(indent), L' ') + L"}";
}

std::wstring TotalsJsonAt(const ReportTotals& t, int indent) {
    const Json totals = {{"files", t.files},
                         {"foreign_files", t.foreignFiles},
                         {"files_with_problems", t.filesWithProblems},
                         {"computers", t.computers},
                         {"runs", t.runs},
                         {"runs_without_stop", t.runsWithoutStop},
                         {"removed", t.removed},
                         {"declined", t.declined},
                         {"failed", t.failed},
                         {"programs", t.programs},
                         {"programs_not_zero", t.programsNotZero},
                         {"restarts", t.restarts},
                         {"aegira_installed", t.aegiraInstalled}};
    return DumpAt(totals, indent);
}

}  // namespace clearon::check
