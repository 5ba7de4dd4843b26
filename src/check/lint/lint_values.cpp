#include "check/lint/lint_checks.h"

#include <algorithm>
#include <optional>

#include "check/cli/check_text.h"
#include "config/config_file.h"
#include "config/config_lines.h"
#include "config/settings.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

constexpr wchar_t kEquals = L'=';

void CheckStringKey(LintContext& lint, const std::vector<LintEntry>& entries,
                    std::wstring_view key) {
    const std::wstring name(key);
    const LintEntry* match = nullptr;
    for (const LintEntry& entry : entries) {
        if (!ContainsNoCase(entry.text, key)) continue;
        if (match == nullptr) {
            if (entry.tooLong) {
                lint.Warn(entry.number, L"is the first line that contains " + name +
                                            L", but it is "
                                            L"longer than 254 characters: Clearon refuses " +
                                            name + L" (it stays empty) and says so in its log");
                return;
            }
            match = &entry;
            continue;
        }
        if (EqualsNoCase(KeyPart(entry.text), key)) {
            lint.Warn(entry.number, L"Clearon reads " + name +
                                        L" only from the first line that "
                                        L"contains it (line " +
                                        std::to_wstring(match->number) +
                                        L"): this line is ignored");
        }
    }
    if (match == nullptr) return;

    const std::wstring value = FindSectionValue(lint.text, key).value;
    const std::wstring_view keyPart = KeyPart(match->text);
    if (!EqualsNoCase(keyPart, key)) {
        lint.Warn(match->number, L"Clearon takes " + name +
                                     L" from this line, the first [Settings] "
                                     L"line that contains \"" +
                                     name + L"\" anywhere (here in " + Quoted(keyPart) + L"): " +
                                     name + L" = " + Quoted(value));
    } else {
        lint.Note(match->number, name + L" = " + Quoted(value));
    }
    if (match->text.find(kEquals) == std::wstring::npos) {
        lint.Warn(match->number, L"has no \"=\": " + name + L" is empty");
    }
    if (value.size() > kMaxFieldLength) {
        lint.Warn(match->number,
                  name + L" has " + std::to_wstring(value.size()) +
                      L" characters, more than its 254: Clearon refuses it (it stays "
                      L"empty) and says so in its log");
    }
    const bool timeLimit = key == kKeyProgramTimeLimit || key == kKeyOtherRunTimeLimit;
    if (timeLimit && value.size() <= kMaxFieldLength && !ParseProgramTimeLimit(value)) {
        lint.Warn(match->number,
                  name + L" is not a number of minutes from 0 to " +
                      std::to_wstring(kMaxProgramTimeLimit) + L": Clearon ignores it (" +
                      (key == kKeyProgramTimeLimit
                           ? std::wstring(L"no limit")
                           : std::to_wstring(kDefaultOtherRunTimeLimit) + L" minutes") +
                      L") and says so in its log");
    }
    if (key == kKeyAllowedWriterSids && !ParseSidList(value)) {
        lint.Warn(match->number,
                  L"AllowedWriterSids holds an item that is no SID in its S-1-... form: Clearon "
                  L"refuses the whole value (no further SID is trusted) and says so in its log");
    }
    if (key == kKeyMessageBoxText) lint.messageBoxLine = match->number;
    if (key == kKeyLogPath) lint.logPathLine = match->number;
}

}  // namespace

// The strings and unknown lines of [Settings], as GetSectionValue and
// the program lists read them: blanks kept, the first line with the key
// wins.
void LintSettingsEntries(LintContext& lint) {
    const std::vector<LintEntry> entries = SectionEntries(lint.text, kSettingsHeader);
    for (const std::wstring_view key : kLintStringKeys) CheckStringKey(lint, entries, key);

    for (const LintEntry& entry : entries) {
        if (TrimBlanks(entry.text).empty()) continue;
        const std::wstring& dropped = lint.drop[entry.number - 1];
        bool known = false;
        for (const FlagSetting& flag : kFlagSettings)
            known = known || ContainsNoCase(dropped, flag.key);
        for (const std::wstring_view key : kLintStringKeys)
            known = known || ContainsNoCase(entry.text, key);
        for (const std::wstring_view list : kLintProgramLists)
            known = known || ContainsNoCase(entry.text, list);
        if (entry.tooLong) {
            lint.Warn(entry.number,
                      L"is " + std::to_wstring(entry.text.size()) +
                          L" characters long; Clearon's line buffer takes 254, so its "
                          L"lookups of values and program lines skip it (the switch "
                          L"scan still reads it)");
            continue;
        }
        if (known) continue;
        std::wstring_view hidden;
        for (const std::wstring_view key : kLintStringKeys) {
            if (hidden.empty() && ContainsNoCase(dropped, key)) hidden = key;
        }
        for (const std::wstring_view list : kLintProgramLists) {
            if (hidden.empty() && ContainsNoCase(dropped, list)) hidden = list;
        }
        if (!hidden.empty()) {
            lint.Warn(entry.number, L"has blanks inside " + Quoted(KeyPart(entry.text)) +
                                        L": only the switches are read with the blanks dropped; "
                                        L"Clearon does not find " +
                                        std::wstring(hidden) + L" here, write it without blanks");
        } else {
            lint.Warn(entry.number, L"holds no key Clearon knows (" + Quoted(KeyPart(entry.text)) +
                                        L"): the line is ignored");
        }
    }
}

void LintLogPath(LintContext& lint) {
    if (!lint.result.settings.EnableLogging) return;
    const std::wstring value = FindSectionValue(lint.text, kKeyLogPath).value;
    const std::size_t line = lint.logPathLine;
    if (value.empty()) {
        lint.Note(line, L"the run log is written beside Clearon.exe: Clearon.<computer name>.log");
        return;
    }
    std::vector<std::wstring> undefined;
    const auto lookup = [&](std::wstring_view name) -> std::optional<std::wstring> {
        std::optional<std::wstring> found =
            lint.options.environment ? lint.options.environment(name) : std::nullopt;
        if (!found && std::find(undefined.begin(), undefined.end(), name) == undefined.end()) {
            undefined.emplace_back(name);
        }
        return found;
    };
    const std::wstring expanded = ExpandLogPathReferences(value, lookup);
    const std::wstring directory = LogDirectoryFromSetting(value, L"", lookup);
    for (const std::wstring& name : undefined) {
        lint.Warn(line, L"%" + name + L"% is not defined in " + lint.options.environmentSource +
                            L": Clearon removes the reference and logs to " + Quoted(directory));
    }
    if (expanded.empty()) {
        lint.Warn(line,
                  L"the expansion of LogPath is refused (a variable's value names itself, or "
                  L"the path grows past 511 characters): Clearon logs to \"\\\", the root of "
                  L"the current drive");
    }
    const std::wstring path =
        ComposeLogFilePath(directory, std::wstring(kLongestComputerName, L'W'));
    if (path.empty()) {
        lint.Warn(line,
                  L"with a computer name of 15 characters the log path would be longer than "
                  L"254 characters: Clearon then writes everything to Clearon_Err.log beside "
                  L"Clearon.exe");
    }
    lint.Note(line,
              L"the run log goes to " + Quoted(directory) + L" as Clearon.<computer name>.log");
}

}  // namespace clearon::check
