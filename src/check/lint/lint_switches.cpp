#include "check/lint/lint_checks.h"

#include <map>

#include "config/config_lines.h"
#include "config/settings.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

// The last line whose switch scan sets or clears `field`; 0 when none does.
[[nodiscard]] std::size_t SwitchLine(const LintContext& lint, bool Settings::*field) {
    std::size_t line = 0;
    for (std::size_t i = 0; i < lint.drop.size(); ++i) {
        if (!lint.switchLines[i]) continue;
        for (const FlagSetting& flag : kFlagSettings) {
            if (flag.field == field && ContainsNoCase(lint.drop[i], flag.key) &&
                ClassifyFlagValue(lint.drop[i]) != FlagValue::Neither) {
                line = i + 1;
            }
        }
    }
    return line;
}

}  // namespace

// The switches, as the settings scan applies them: every line of
// [Settings] with its blanks dropped, in file order, the last one wins.
void LintSwitches(LintContext& lint) {
    std::map<std::wstring_view, std::size_t> lastLine;
    for (std::size_t i = 0; i < lint.drop.size(); ++i) {
        if (!lint.switchLines[i]) continue;
        const std::wstring& line = lint.drop[i];
        const std::size_t number = i + 1;
        const FlagValue value = ClassifyFlagValue(line);
        for (const FlagSetting& flag : kFlagSettings) {
            if (!ContainsNoCase(line, flag.key)) continue;
            const std::wstring key(flag.key);
            const std::wstring_view keyPart = KeyPart(line);
            if (!EqualsNoCase(keyPart, flag.key)) {
                lint.Warn(number, L"contains \"" + key + L"\" inside " + Quoted(keyPart) +
                                      L": the switch scan finds the key anywhere in a line and "
                                      L"applies this line to " +
                                      key);
            }
            const bool defaultOn = Settings{}.*flag.field;
            switch (value) {
                case FlagValue::Yes:
                    lint.Note(number, L"sets " + key + L" (Y)");
                    break;
                case FlagValue::No:
                    lint.Note(number, L"clears " + key + L" (N)");
                    break;
                case FlagValue::Both:
                    lint.Warn(number,
                              L"holds both a yes-text (=Y, =true) and a no-text (=N, =false) "
                              L"somewhere in the line: Clearon sets " +
                                  key + L" and clears it again, so it is N");
                    break;
                case FlagValue::Neither:
                    lint.Warn(number, key +
                                          L": Clearon does not recognise this value (=Y, =Yes, "
                                          L"=true set a switch; =N, =No, =false clear it): " +
                                          key + L" keeps its earlier value (default " +
                                          std::wstring(OnOff(defaultOn)) + L")");
                    break;
            }
            if (flag.field == &Settings::CheckDiskSpace &&
                (value == FlagValue::No || value == FlagValue::Both)) {
                lint.Warn(number,
                          L"CheckDiskSpace=N has no effect: Clearon always checks the free "
                          L"space on the system drive");
            }
            if (value != FlagValue::Neither) {
                const auto earlier = lastLine.find(flag.key);
                if (earlier != lastLine.end()) {
                    lint.Note(number, L"overrides line " + std::to_wstring(earlier->second) +
                                          L" for " + key + L" (the last line wins)");
                }
                lastLine[flag.key] = number;
            }
        }
    }
}

void LintRunMode(LintContext& lint) {
    const Settings& settings = lint.result.settings;
    Settings scanned;
    ScanSettingsSection(lint.text, scanned);
    if (scanned.ShowMessageBox && settings.MessageBoxText.size() < kMinMessageBoxTextLength) {
        lint.Warn(lint.messageBoxLine != 0 ? lint.messageBoxLine
                                           : SwitchLine(lint, &Settings::ShowMessageBox),
                  L"ShowMessageBox is Y, but MessageBoxText has " +
                      std::to_wstring(settings.MessageBoxText.size()) +
                      L" characters after its escapes, fewer than 6: no notice is shown");
    }
    if (!settings.ShowGUI && settings.AskBeforeRemoval) {
        lint.Warn(SwitchLine(lint, &Settings::AskBeforeRemoval),
                  L"AskBeforeRemoval is Y (also the default) while ShowGUI is N: the Question box "
                  L"still appears before each removal, and the silent run waits until somebody "
                  L"answers it");
    }
    if (!settings.ShowGUI && settings.ShowMessageBox) {
        lint.Warn(SwitchLine(lint, &Settings::ShowMessageBox),
                  L"ShowMessageBox is Y while ShowGUI is N: the notice box still appears, and the "
                  L"silent run waits until somebody presses OK");
    }
    if (!settings.EnableLogging) {
        lint.Note(SwitchLine(lint, &Settings::EnableLogging),
                  L"EnableLogging is N: Clearon writes no log, so ClearonCheck report has nothing "
                  L"to read from these computers");
    }
}

}  // namespace clearon::check
