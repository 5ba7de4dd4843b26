#include "check/lint/lint_checks.h"

#include <map>

#include "config/config_lines.h"
#include "config/settings.h"
#include "removal/program_list.h"
#include "text/wide_string.h"

namespace clearon::check {

void LintProgramLines(LintContext& lint) {
    std::map<std::size_t, int> listsPerLine;
    for (const std::wstring_view list : kLintProgramLists) {
        const std::wstring name(list);
        ForEachProgramLine(lint.text, list, [&](const SectionEntry& entry) {
            ++listsPerLine[entry.number];
            if (entry.tooLong) {
                lint.Warn(entry.number, L"a " + name +
                                            L" line longer than 254 characters: Clearon "
                                            L"skips it (a cut command could run something else)");
                return;
            }
            const std::wstring_view keyPart = KeyPart(entry.text);
            if (!EqualsNoCase(keyPart, list)) {
                const bool numbered = keyPart.size() > list.size() &&
                                      EqualsNoCase(keyPart.substr(0, list.size()), list);
                (numbered
                     ? static_cast<void>(lint.Note(
                           entry.number, L"counts as a " + name +
                                             L" line: the list name is found anywhere in a line"))
                     : lint.Warn(entry.number, L"contains \"" + name + L"\" (in " +
                                                   Quoted(keyPart) +
                                                   L"), so Clearon runs the text after its first "
                                                   L"\"=\" as a " +
                                                   name + L" program"));
            }
            const std::wstring command = ProgramCommand(entry.text);
            if (command.empty()) {
                lint.Warn(entry.number,
                          L"a " + name + L" line with an empty command: nothing runs");
                return;
            }
            if (IsAegiraInstaller(list, command)) {
                lint.Note(entry.number,
                          name + L" runs " + Quoted(command) +
                              L": recognised as Aegira's installer (it receives Clearon's "
                              L"own arguments" +
                              (lint.result.settings.ResumeAfterReboot
                                   ? L", and a restart can be registered after it)"
                                   : L"; ResumeAfterReboot is N, so no restart is registered "
                                     L"after it)"));
                return;
            }
            lint.Note(entry.number, name + L" runs " + Quoted(command));
            if (list == kKeyRunAfterRemoval && ContainsNoCase(command, L"setup") &&
                ContainsNoCase(command, L"\\")) {
                lint.Warn(entry.number,
                          L"names a setup program with a folder (it holds \"\\\"): "
                          L"Clearon does not take it for Aegira's installer, so it gets "
                          L"no arguments and no restart is ever registered after it; "
                          L"put the installer beside Clearon.exe and name it without a "
                          L"folder");
            }
        });
    }
    for (const auto& [number, count] : listsPerLine) {
        if (count > 1) {
            lint.Warn(number,
                      L"names both RunBeforeRemoval and RunAfterRemoval: the program runs "
                      L"before and again after the removal");
        }
    }
}

}  // namespace clearon::check
