#include "removal/program_list.h"

#include "config/config_lines.h"
#include "log/log_texts.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

constexpr std::wstring_view kAfterWord = L"after";
constexpr std::wstring_view kSetupWord = L"setup";
constexpr std::wstring_view kFolderSeparator = L"\\";

}  // namespace

std::wstring ProgramCommand(std::wstring_view line) {
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos) return {};
    const std::size_t start = line.find_first_not_of(L' ', equals + 1);
    if (start == std::wstring_view::npos) return {};
    return std::wstring(line.substr(start));
}

bool IsAegiraInstaller(std::wstring_view listName, std::wstring_view command) noexcept {
    return ContainsNoCase(listName, kAfterWord) && ContainsNoCase(command, kSetupWord) &&
           !ContainsNoCase(command, kFolderSeparator);
}

void ForEachProgramLine(std::wstring_view config, std::wstring_view listName,
                        const std::function<void(const SectionEntry& entry)>& visit) {
    ForEachSectionEntry(config, kSettingsHeader, [&](const SectionEntry& entry) {
        if (ContainsNoCase(entry.text, listName)) visit(entry);
        return true;
    });
}

bool ProgramsStoppedBySessionEnd(RemovalContext& context) {
    if (!context.state.programsStopped && context.host.SessionEnded()) {
        context.state.programsStopped = true;
        context.host.LogLine(kLogSessionEndedNoPrograms);
    }
    return context.state.programsStopped;
}

void RunProgramList(RemovalContext& context, std::wstring_view listName,
                    std::wstring_view savedArguments) {
    RemovalHost& host = context.host;
    // ConfigText never changes during a run, so walking it while programs run
    // (and the walk's callback blocks on each one) is safe.
    ForEachProgramLine(context.configText, listName, [&](const SectionEntry& entry) {
        ProgramLineNote note{listName, entry.number, ProgramLineVerdict::Runs, {}, false};
        if (entry.tooLong) {
            // A cut command line could run something else: skip it, say so.
            host.LogLine(kLogProgramLineTooLong);
            note.verdict = ProgramLineVerdict::LineTooLong;
            host.OnProgramLine(note);
            return;
        }
        std::wstring command = ProgramCommand(entry.text);
        note.command = command;
        if (command.empty()) {
            note.verdict = ProgramLineVerdict::NoCommand;
            host.OnProgramLine(note);
            return;
        }

        if (ProgramsStoppedBySessionEnd(context)) return;
        host.SetPendingRenamesAside();

        if (!IsAegiraInstaller(listName, command)) {
            host.OnProgramLine(note);
            (void)host.RunProgram(command, false);
            return;
        }
        note.installer = true;
        const std::wstring stored = command;
        note.command = stored;
        if (!savedArguments.empty()) {
            if (command.size() + 1 + savedArguments.size() > kMaxProgramCommandLength) {
                host.LogLine(kLogInstallerTooLong);
                context.state.installer = InstallerFact::NotStarted;
                note.verdict = ProgramLineVerdict::InstallerTooLong;
                host.OnProgramLine(note);
                return;
            }
            command.append(L" ").append(savedArguments);
        }
        host.OnProgramLine(note);
        host.PostStatus(kStatusInstallingAegira);
        if (context.beforeInstaller) context.beforeInstaller();
        // Only a started installer can want the resume: counting one that
        // never started would register RunOnce again on every later run.
        const LaunchResult launched = host.RunProgram(command, false);
        if (launched.started) context.state.installerLaunched = true;
        context.state.installer = !launched.started   ? InstallerFact::NotStarted
                                  : launched.exitCode ? InstallerFact::Exited
                                                      : InstallerFact::NoExitCode;
        context.state.installerExitCode = launched.exitCode.value_or(0);
        host.PostStatus(kStatusRunningAfter);
    });
}

}  // namespace clearon
