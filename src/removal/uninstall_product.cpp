#include "removal/uninstall_product.h"

#include <chrono>
#include <optional>
#include <string>

#include "log/log_texts.h"
#include "removal/name_list.h"
#include "removal/program_list.h"
#include "removal/uninstall_command.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

void LogCommandTooLong(RemovalHost& host, std::wstring_view displayName) {
    std::wstring line(kLogNotRemoving);
    line.append(VisibleText(displayName));
    line.append(kLogUninstallCommandTooLong);
    host.LogLine(line);
}

void LogProductLine(RemovalHost& host, std::wstring_view prefix, std::wstring_view displayName) {
    std::wstring line(prefix);
    line.append(VisibleText(displayName));
    line.append(L"\r\n");
    host.LogLine(line);
}

// Runs the completed uninstall command. Windows Installer runs one
// installation at a time and answers 1618 to every other; on a machine that
// is still busy with an update or another deployment, that is a matter of
// minutes, not a failed removal. So an MsiExec command is tried again after
// a pause until the pauses reach the bounded total; only then does it count
// as not removed (the entry is still there).
void RunUninstaller(RemovalContext& context, std::wstring_view displayName,
                    std::wstring_view command) {
    RemovalHost& host = context.host;
    const bool showNotice = ContainsNoCase(displayName, kNoticeProduct);
    const bool isMsiExec = ContainsNoCase(command, kKindMsiExec);
    std::chrono::milliseconds paused{0};
    for (;;) {
        if (ProgramsStoppedBySessionEnd(context)) return;
        const std::optional<std::uint32_t> exitCode = host.RunProgram(command, showNotice).exitCode;
        context.state.lastUninstallerExitCode = exitCode;
        if (!isMsiExec || exitCode != kExitInstallerBusy) return;
        const InstallerBusyRetry& retry = context.installerBusy;
        if (paused + retry.pause > retry.total) {
            LogProductLine(host, kLogInstallerStayedBusy, displayName);
            return;
        }
        std::wstring line(kLogInstallerBusy);
        line.append(
            std::to_wstring(std::chrono::duration_cast<std::chrono::seconds>(retry.pause).count()));
        line.append(kLogInstallerBusySeconds);
        line.append(VisibleText(displayName));
        line.append(L"\r\n");
        host.LogLine(line);
        host.Pause(retry.pause);
        paused += retry.pause;
    }
}

}  // namespace

int UninstallProduct(RemovalContext& context, std::wstring_view displayName,
                     std::wstring_view uninstallCommand) {
    RemovalHost& host = context.host;
    RemovalState& state = context.state;
    const Settings& settings = context.settings;
    const std::wstring marker = MarkerFor(displayName);
    // Whatever follows, an older uninstaller's code says nothing of this one.
    state.lastUninstallerExitCode.reset();

    if (ListContains(state.declinedList, marker)) {
        host.OnUninstall({displayName, {}, UninstallVerdict::Declined});
        return kUninstallSkipped;
    }

    // The command is completed and measured before anybody is asked: a
    // command that does not fit the command line is not run at all (a cut
    // one could run something else, or lose the switch that keeps it
    // silent), so there is nothing to ask about. The entry stays, and the
    // caller counts it as not removed.
    const std::wstring command = CompleteUninstallCommand(uninstallCommand, settings);
    if (!FitsCommandLine(command)) {
        LogCommandTooLong(host, displayName);
        host.OnUninstall({displayName, command, UninstallVerdict::TooLong});
        return kUninstallRan;
    }
    host.OnUninstall({displayName, command, UninstallVerdict::Proceeds});

    if (settings.AskBeforeRemoval && !ListContains(state.confirmedList, marker)) {
        switch (host.AskQuestion(QuestionText(displayName))) {
            case QuestionAnswer::Yes:
                AddToList(state.confirmedList, marker);
                break;
            case QuestionAnswer::No: {
                LogProductLine(host, kLogUserDeclined, displayName);
                AddToList(state.declinedList, marker);
                return kUninstallSkipped;
            }
            case QuestionAnswer::Failed:
                // No answer is no permission: nothing runs. The entry is
                // still there afterwards and is counted as not removed.
                return kUninstallRan;
        }
    }

    LogProductLine(host, kLogRemoving, displayName);
    host.PostStatus(UninstallingStatus(displayName));
    RunUninstaller(context, displayName, command);

    if (ContainsNoCase(displayName, kAgentProduct) &&
        host.FileExists(AgentRemoverPath(state.agentLocation))) {
        // agentLocation is read into a 255-character buffer, so this command
        // fits; should it ever not, it is refused like any other.
        const std::wstring agentCommand =
            AgentRemoverCommand(state.agentLocation, settings.SilentMSIInstaller);
        const bool fits = FitsCommandLine(agentCommand);
        host.OnAgentRemover({displayName, agentCommand, fits});
        if (fits) {
            if (!ProgramsStoppedBySessionEnd(context)) (void)host.RunProgram(agentCommand, false);
        } else {
            LogCommandTooLong(host, displayName);
        }
    }

    host.PostStatus(kStatusSearching);
    return kUninstallRan;
}

}  // namespace clearon
