#include "removal/uninstall_product.h"

#include <string>

#include "removal/name_list.h"
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

}  // namespace

int UninstallProduct(RemovalContext& context, std::wstring_view displayName,
                     std::wstring_view uninstallCommand) {
    RemovalHost& host = context.host;
    RemovalState& state = context.state;
    const Settings& settings = context.settings;
    const std::wstring marker = MarkerFor(displayName);

    if (ListContains(state.declinedList, marker)) return kUninstallSkipped;

    // The command is completed and measured before anybody is asked: a
    // command that does not fit the command line is not run at all (a cut
    // one could run something else, or lose the switch that keeps it
    // silent), so there is nothing to ask about. The entry stays, and the
    // caller counts it as not removed.
    const std::wstring command = CompleteUninstallCommand(uninstallCommand, settings);
    if (!FitsCommandLine(command)) {
        LogCommandTooLong(host, displayName);
        return kUninstallRan;
    }

    if (settings.AskBeforeRemoval && !ListContains(state.confirmedList, marker)) {
        switch (host.AskQuestion(QuestionText(displayName))) {
            case QuestionAnswer::Yes:
                AddToList(state.confirmedList, marker);
                break;
            case QuestionAnswer::No: {
                std::wstring line(kLogUserDeclined);
                line.append(VisibleText(displayName));
                line.append(L"\r\n");
                host.LogLine(line);
                AddToList(state.declinedList, marker);
                return kUninstallSkipped;
            }
            case QuestionAnswer::Failed:
                // No answer is no permission: nothing runs. The entry is
                // still there afterwards and is counted as not removed.
                return kUninstallRan;
        }
    }

    std::wstring removing(kLogRemoving);
    removing.append(VisibleText(displayName));
    removing.append(L"\r\n");
    host.LogLine(removing);
    host.PostStatus(UninstallingStatus(displayName));
    (void)host.RunProgram(command, ContainsNoCase(displayName, kNoticeProduct));

    if (ContainsNoCase(displayName, kAgentProduct) &&
        host.FileExists(AgentRemoverPath(state.agentLocation))) {
        // agentLocation is read into a 255-character buffer, so this command
        // fits; should it ever not, it is refused like any other.
        const std::wstring agentCommand =
            AgentRemoverCommand(state.agentLocation, settings.SilentMSIInstaller);
        if (FitsCommandLine(agentCommand)) {
            (void)host.RunProgram(agentCommand, false);
        } else {
            LogCommandTooLong(host, displayName);
        }
    }

    host.PostStatus(kStatusSearching);
    return kUninstallRan;
}

}  // namespace clearon
