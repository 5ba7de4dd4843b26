#include "removal/uninstall_command.h"

#include "text/wide_string.h"

namespace clearon {
namespace {

void AppendParameters(std::wstring& command, std::wstring_view parameters) {
    if (parameters.empty()) return;
    command.push_back(L' ');
    command.append(parameters);
}

// MsiExec's /I (install) and /i, and anything else written "/i", become /X:
// the stored command of a Windows Installer product is often its repair or
// modify command.
void TurnInstallSwitchesIntoRemoval(std::wstring& command) {
    for (std::size_t i = 1; i < command.size(); ++i) {
        if (command[i - 1] == L'/' && FoldAscii(command[i]) == L'i') command[i] = L'X';
    }
}

}  // namespace

std::wstring CompleteUninstallCommand(std::wstring_view stored, const Settings& settings) {
    const bool silent = settings.SilentMSIInstaller;
    std::wstring command(stored);
    bool typed = false;

    if (ContainsNoCase(command, kKindNtrmv)) {
        if (silent) command.append(kNtrmvSilent);
    }
    if (ContainsNoCase(command, kKindInnoSetup)) {
        if (silent) command.append(kInnoSetupSilent);
        command.append(kInnoSetupNoRestart);
    }
    if (ContainsNoCase(command, kKindMsiExec)) {
        TurnInstallSwitchesIntoRemoval(command);
        command.append(kMsiRemoveAll);
        if (silent) command.append(kMsiQuiet);
        AppendParameters(command, settings.MSIExtraParameters);
        typed = true;
    }
    if (ContainsNoCase(command, kKindInstallShield) ||
        ContainsNoCase(command, kKindInstallShieldDriver)) {
        command.append(kInstallShieldRemove);
        command.append(silent ? kInstallShieldSilent : kInstallShieldPlain);
        AppendParameters(command, settings.InstallShieldExtraParameters);
        typed = true;
    }
    if (!typed) AppendParameters(command, settings.DefaultExtraParameters);
    return command;
}

std::wstring QuestionText(std::wstring_view displayName) {
    std::wstring text(displayName);
    text.append(kQuestionCompatibility);
    text.append(kQuestionAreYouSure);
    text.append(displayName);
    text.append(kQuestionEnd);
    return text;
}

std::wstring UninstallingStatus(std::wstring_view displayName) {
    std::wstring text(kStatusUninstalling);
    text.append(displayName);
    text.append(kStatusEllipsis);
    return text;
}

std::wstring AgentRemoverPath(std::wstring_view agentLocation) {
    std::wstring path(agentLocation);
    path.append(kAgentRemover);
    return path;
}

std::wstring AgentRemoverCommand(std::wstring_view agentLocation, bool silent) {
    std::wstring command(L"\"");
    command.append(AgentRemoverPath(agentLocation));
    command.push_back(L'"');
    command.append(kAgentForce);
    if (silent) command.append(kAgentSilent);
    return command;
}

}  // namespace clearon
