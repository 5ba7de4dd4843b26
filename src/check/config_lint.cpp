#include "check/config_lint.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "check/check_text.h"
#include "config/config_file.h"
#include "config/config_lines.h"
#include "removal/product_discovery.h"
#include "removal/program_list.h"
#include "removal/removal_run.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

constexpr wchar_t kLineFeed = L'\n';
constexpr wchar_t kCarriageReturn = L'\r';
constexpr wchar_t kEquals = L'=';
constexpr wchar_t kFirstSignExtended = static_cast<wchar_t>(0xFF80);
constexpr wchar_t kByteOrderMark = static_cast<wchar_t>(0xFEFF);

// The [Settings] strings, each read by GetSectionValue from the first line
// that contains its key.
constexpr std::array<std::wstring_view, 6> kStringKeys{kKeyMessageBoxText,
                                                       kKeyMSIExtraParameters,
                                                       kKeyInstallShieldExtraParameters,
                                                       kKeyDefaultExtraParameters,
                                                       kKeyLogPath,
                                                       kKeyProgramTimeLimit};
constexpr std::array<std::wstring_view, 2> kProgramLists{kKeyRunBeforeRemoval, kKeyRunAfterRemoval};

struct Section {
    std::wstring_view header;
    std::wstring_view name;  // as it is shown
};
constexpr std::array<Section, 3> kSections{{{kSettingsHeader, L"[Settings]"},
                                            {kProductNamesHeader, L"[ProductNames]"},
                                            {kUninstallPathsHeader, L"[UninstallPaths]"}}};

// Paths in [UninstallPaths] are below HKEY_LOCAL_MACHINE already.
constexpr std::array<std::wstring_view, 3> kHivePrefixes{L"HKEY_LOCAL_MACHINE", L"HKLM\\",
                                                         L"HKEY_"};

[[nodiscard]] std::wstring Quoted(std::wstring_view text) {
    std::wstring quoted(L"\"");
    quoted.append(Visible(text));
    quoted.push_back(L'"');
    return quoted;
}

[[nodiscard]] std::wstring_view OnOff(bool value) noexcept {
    return value ? L"Y" : L"N";
}

// The key of a "key=value" line: the text before the first "=", without the
// blanks around it.
[[nodiscard]] std::wstring_view KeyPart(std::wstring_view line) noexcept {
    return TrimBlanks(line.substr(0, std::min(line.find(kEquals), line.size())));
}

[[nodiscard]] bool HasSignExtended(std::wstring_view text) noexcept {
    return std::any_of(text.begin(), text.end(), [](wchar_t c) {
        return (static_cast<unsigned>(c) & 0xFFFF) >= kFirstSignExtended;
    });
}

// Do the single bytes of this text (U+FF80.. for bytes above 0x7F) form
// UTF-8 sequences? Then the file was saved as UTF-8 without a byte-order
// mark, and every non-ASCII letter arrives as two or three characters.
[[nodiscard]] bool LooksLikeUtf8(std::wstring_view text) noexcept {
    std::size_t sequences = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned lead = static_cast<unsigned>(text[i]) & 0xFFFF;
        if (lead < kFirstSignExtended) continue;
        const unsigned byte = lead & 0xFF;
        std::size_t follows = 0;
        if ((byte & 0xE0) == 0xC0)
            follows = 1;
        else if ((byte & 0xF0) == 0xE0)
            follows = 2;
        else if ((byte & 0xF8) == 0xF0)
            follows = 3;
        else
            return false;
        for (std::size_t k = 1; k <= follows; ++k) {
            if (i + k >= text.size()) return false;
            const unsigned next = static_cast<unsigned>(text[i + k]) & 0xFFFF;
            if (next < kFirstSignExtended || ((next & 0xFF) & 0xC0) != 0x80) return false;
        }
        i += follows;
        ++sequences;
    }
    return sequences > 0;
}

struct RawLine {
    std::wstring_view text;  // up to its line feed, which is not included
    bool endsWithLineFeed = false;
};

[[nodiscard]] std::vector<RawLine> SplitRawLines(std::wstring_view text) {
    std::vector<RawLine> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t feed = text.find(kLineFeed, start);
        if (feed == std::wstring_view::npos) {
            lines.push_back({text.substr(start), false});
            return lines;
        }
        lines.push_back({text.substr(start, feed - start), true});
        start = feed + 1;
    }
}

[[nodiscard]] std::vector<std::wstring> ConsumerLines(std::wstring_view text, LineSpaces spaces) {
    std::vector<std::wstring> lines;
    ForEachConfigLine(text, spaces, [&](std::wstring_view line) {
        lines.emplace_back(line);
        return true;
    });
    return lines;
}

[[nodiscard]] std::wstring WithoutBlanks(std::wstring_view text) {
    std::wstring out;
    for (const wchar_t c : text) {
        if (c != L' ') out.push_back(c);
    }
    return out;
}

struct SectionState {
    std::array<bool, 3> open{};        // the readers that keep blanks, per section
    bool settingsForSwitches = false;  // the switch scan, which drops blanks

    [[nodiscard]] bool Any() const noexcept { return open[0] || open[1] || open[2]; }
};

class Linter {
public:
    Linter(std::wstring_view text, const LintOptions& options, LintResult& result)
        : text_(text), options_(options), result_(result) {}

    void Run() {
        raw_ = SplitRawLines(text_);
        keep_ = ConsumerLines(text_, LineSpaces::Keep);
        drop_ = ConsumerLines(text_, LineSpaces::Drop);
        result_.lineCount = keep_.size();
        (void)ReadSettings(text_, result_.settings);

        CheckLineEnds();
        WalkSections();
        CheckSwitches();
        CheckSettingsEntries();
        CheckProgramLines();
        CheckProductNames();
        CheckUninstallPaths();
        CheckRunMode();
        CheckLogPath();
    }

private:
    void Add(std::size_t line, Severity severity, std::wstring text) {
        result_.findings.push_back({line, severity, std::move(text)});
    }
    void Note(std::size_t line, std::wstring text) { Add(line, Severity::Note, std::move(text)); }
    void Warn(std::size_t line, std::wstring text) {
        Add(line, Severity::Warning, std::move(text));
    }

    [[nodiscard]] bool IsCommentForAnyReader(std::size_t index) const {
        return IsCommentLine(keep_[index]) || IsCommentLine(drop_[index]);
    }

    // Line ends: a line feed takes the character before it along, whatever it
    // is; only a carriage return there is harmless.
    void CheckLineEnds() {
        std::size_t bare = 0;
        for (std::size_t i = 0; i < raw_.size(); ++i) {
            const std::wstring_view line = raw_[i].text;
            const std::size_t number = i + 1;
            const std::size_t returnAt = line.find(kCarriageReturn);
            if (returnAt != std::wstring_view::npos && returnAt + 1 < line.size()) {
                Warn(number,
                     L"holds a carriage return that is not followed by a line feed: only a "
                     L"line feed ends a line, so Clearon reads the text on both sides of it "
                     L"as one line");
            }
            if (!raw_[i].endsWithLineFeed) {
                if (!line.empty() && line.back() == kCarriageReturn) {
                    Warn(number,
                         L"the last line ends with a carriage return but no line feed: "
                         L"Clearon keeps the carriage return as part of the line");
                }
                continue;
            }
            if (!line.empty() && line.back() == kCarriageReturn) continue;
            ++bare;
            if (TrimBlanks(line).empty() || IsCommentForAnyReader(i)) continue;
            std::wstring text =
                L"ends with a bare line feed, which takes the line's last character "
                L"with it: Clearon reads " +
                Quoted(keep_[i]);
            if (drop_[i] != WithoutBlanks(keep_[i])) {
                text += L" (and the switch scan, which drops blanks first, reads " +
                        Quoted(drop_[i]) + L")";
            }
            Warn(number, std::move(text));
        }
        if (bare > 0) {
            Warn(0, std::to_wstring(bare) +
                        L" line(s) end with a bare line feed instead of CR LF: Clearon drops the "
                        L"last character of each; save the file with CR LF line ends");
        }
    }

    [[nodiscard]] static std::wstring DescribeChange(const SectionState& before,
                                                     const SectionState& after) {
        std::wstring ends;
        std::wstring opens;
        for (std::size_t s = 0; s < kSections.size(); ++s) {
            if (before.open[s] == after.open[s]) continue;
            std::wstring& list = before.open[s] ? ends : opens;
            if (!list.empty()) list += L" and ";
            list += kSections[s].name;
        }
        std::wstring text;
        if (!ends.empty()) text += L"it ends " + ends;
        if (!opens.empty()) text += (text.empty() ? L"it opens " : L", and opens ") + opens;
        if (!ends.empty() && opens.empty() && !after.Any()) {
            text += L"; the lines after it are outside any section until the next header";
        }
        return text;
    }

    [[nodiscard]] static bool LooksLikeHeader(std::wstring_view line) noexcept {
        // A UTF-16 file's byte-order mark stays in front of its first line.
        if (!line.empty() && line.front() == kByteOrderMark) line.remove_prefix(1);
        const std::wstring_view t = TrimBlanks(line);
        return t.size() >= 2 && t.front() == L'[' && t.back() == L']' &&
               std::count(t.begin(), t.end(), L'[') == 1 &&
               std::count(t.begin(), t.end(), L']') == 1;
    }

    // The section rule as each reader applies it, line by line.
    void WalkSections() {
        SectionState state;
        for (std::size_t i = 0; i < keep_.size(); ++i) {
            const std::wstring& keep = keep_[i];
            const std::wstring& drop = drop_[i];
            const std::size_t number = i + 1;
            const SectionState before = state;

            const bool ends = EndsSection(keep);
            if (ends) state.open = {};
            const bool entry = !ends && state.Any() && !IsCommentLine(keep);
            bool opensKnown = false;
            for (std::size_t s = 0; s < kSections.size(); ++s) {
                if (StartsSection(keep, kSections[s].header)) {
                    state.open[s] = true;
                    opensKnown = true;
                }
            }
            if (EndsSection(drop)) state.settingsForSwitches = false;
            if (StartsSection(drop, kSettingsHeader)) state.settingsForSwitches = true;
            const bool switchLine = state.settingsForSwitches && !IsCommentLine(drop);

            const bool changed = before.open != state.open;
            if (IsCommentForAnyReader(i) && !entry) {
                if (changed) {
                    Warn(number,
                         L"this comment still counts for the sections (a line with \"[\" and "
                         L"\"]\" ends a section, one with a header opens it): " +
                             DescribeChange(before, state));
                }
            } else if (ends || opensKnown) {
                if (!LooksLikeHeader(keep)) {
                    if (changed) {
                        Warn(number,
                             L"holds \"[\" and \"]\", which make any line a section header "
                             L"to Clearon: " +
                                 DescribeChange(before, state));
                    }
                } else if (opensKnown) {
                    std::wstring_view header = TrimBlanks(keep);
                    if (!header.empty() && header.front() == kByteOrderMark)
                        header.remove_prefix(1);
                    Note(number, L"opens " + std::wstring(header));
                } else {
                    Note(number, L"section " + Quoted(TrimBlanks(keep)) +
                                     L" is not one of Clearon's: its lines are ignored");
                }
            }

            if (state.settingsForSwitches != state.open[0] &&
                before.settingsForSwitches == before.open[0]) {
                Warn(number,
                     state.settingsForSwitches
                         ? L"the switch scan, which drops every blank first, sees [Settings] "
                           L"open from here, but the readers of LogPath, MessageBoxText, the "
                           L"parameters and the program lines do not"
                         : L"the readers of LogPath, MessageBoxText, the parameters and the "
                           L"program lines see [Settings] open from here, but the switch scan, "
                           L"which drops every blank first, does not");
            }

            if (entry && IsCommentLine(drop)) {
                std::wstring text =
                    L"starts with blanks before \";\": only the switch scan takes it "
                    L"for a comment; ";
                if (state.open[1]) {
                    text += L"in [ProductNames] it is the product name " + Quoted(keep);
                } else if (state.open[2]) {
                    text += L"in [UninstallPaths] it is a registry path to scan";
                } else {
                    text += L"the lookups of values and the program lists read it";
                }
                Warn(number, std::move(text));
            }

            const bool blank = TrimBlanks(keep).empty();
            if (!blank && !entry && !ends && !opensKnown && !IsCommentForAnyReader(i)) {
                bool holdsSwitch = false;
                for (const FlagSetting& flag : kFlagSettings) {
                    holdsSwitch = holdsSwitch || ContainsNoCase(drop, flag.key);
                }
                if (!switchLine) {
                    Warn(number, L"is outside any section: Clearon ignores it");
                } else if (!holdsSwitch) {
                    Warn(number,
                         L"only the switch scan sees [Settings] here, and the line holds no "
                         L"switch: Clearon ignores it");
                }
            }
            switchLines_.push_back(switchLine);
        }
    }

    // The switches, as the settings scan applies them: every line of
    // [Settings] with its blanks dropped, in file order, the last one wins.
    void CheckSwitches() {
        std::map<std::wstring_view, std::size_t> lastLine;
        for (std::size_t i = 0; i < drop_.size(); ++i) {
            if (!switchLines_[i]) continue;
            const std::wstring& line = drop_[i];
            const std::size_t number = i + 1;
            const FlagValue value = ClassifyFlagValue(line);
            for (const FlagSetting& flag : kFlagSettings) {
                if (!ContainsNoCase(line, flag.key)) continue;
                const std::wstring key(flag.key);
                const std::wstring_view keyPart = KeyPart(line);
                if (!EqualsNoCase(keyPart, flag.key)) {
                    Warn(number, L"contains \"" + key + L"\" inside " + Quoted(keyPart) +
                                     L": the switch scan finds the key anywhere in a line and "
                                     L"applies this line to " +
                                     key);
                }
                const bool defaultOn = Settings{}.*flag.field;
                switch (value) {
                    case FlagValue::Yes:
                        Note(number, L"sets " + key + L" (Y)");
                        break;
                    case FlagValue::No:
                        Note(number, L"clears " + key + L" (N)");
                        break;
                    case FlagValue::Both:
                        Warn(number,
                             L"holds both a yes-text (=Y, =true) and a no-text (=N, =false) "
                             L"somewhere in the line: Clearon sets " +
                                 key + L" and clears it again, so it is N");
                        break;
                    case FlagValue::Neither:
                        Warn(number, key +
                                         L": Clearon does not recognise this value (=Y, =Yes, "
                                         L"=true set a switch; =N, =No, =false clear it): " +
                                         key + L" keeps its earlier value (default " +
                                         std::wstring(OnOff(defaultOn)) + L")");
                        break;
                }
                if (flag.field == &Settings::CheckDiskSpace &&
                    (value == FlagValue::No || value == FlagValue::Both)) {
                    Warn(number,
                         L"CheckDiskSpace=N has no effect: Clearon always checks the free "
                         L"space on the system drive");
                }
                if (value != FlagValue::Neither) {
                    const auto earlier = lastLine.find(flag.key);
                    if (earlier != lastLine.end()) {
                        Note(number, L"overrides line " + std::to_wstring(earlier->second) +
                                         L" for " + key + L" (the last line wins)");
                    }
                    lastLine[flag.key] = number;
                }
            }
        }
    }

    struct Entry {
        std::wstring text;
        std::size_t number = 0;
        bool tooLong = false;
    };

    [[nodiscard]] std::vector<Entry> SettingsEntries() const {
        std::vector<Entry> entries;
        ForEachSectionEntry(text_, kSettingsHeader, [&](const SectionEntry& entry) {
            entries.push_back({std::wstring(entry.text), entry.number, entry.tooLong});
            return true;
        });
        return entries;
    }

    // The strings and unknown lines of [Settings], as GetSectionValue and
    // the program lists read them: blanks kept, the first line with the key
    // wins.
    void CheckSettingsEntries() {
        const std::vector<Entry> entries = SettingsEntries();
        for (const std::wstring_view key : kStringKeys) CheckStringKey(entries, key);

        for (const Entry& entry : entries) {
            if (TrimBlanks(entry.text).empty()) continue;
            const std::wstring& dropped = drop_[entry.number - 1];
            bool known = false;
            for (const FlagSetting& flag : kFlagSettings)
                known = known || ContainsNoCase(dropped, flag.key);
            for (const std::wstring_view key : kStringKeys)
                known = known || ContainsNoCase(entry.text, key);
            for (const std::wstring_view list : kProgramLists)
                known = known || ContainsNoCase(entry.text, list);
            if (entry.tooLong) {
                Warn(entry.number, L"is " + std::to_wstring(entry.text.size()) +
                                       L" characters long; Clearon's line buffer takes 254, so its "
                                       L"lookups of values and program lines skip it (the switch "
                                       L"scan still reads it)");
                continue;
            }
            if (known) continue;
            std::wstring_view hidden;
            for (const std::wstring_view key : kStringKeys) {
                if (hidden.empty() && ContainsNoCase(dropped, key)) hidden = key;
            }
            for (const std::wstring_view list : kProgramLists) {
                if (hidden.empty() && ContainsNoCase(dropped, list)) hidden = list;
            }
            if (!hidden.empty()) {
                Warn(entry.number, L"has blanks inside " + Quoted(KeyPart(entry.text)) +
                                       L": only the switches are read with the blanks dropped; "
                                       L"Clearon does not find " +
                                       std::wstring(hidden) + L" here, write it without blanks");
            } else {
                Warn(entry.number, L"holds no key Clearon knows (" + Quoted(KeyPart(entry.text)) +
                                       L"): the line is ignored");
            }
        }
    }

    void CheckStringKey(const std::vector<Entry>& entries, std::wstring_view key) {
        const std::wstring name(key);
        const Entry* match = nullptr;
        for (const Entry& entry : entries) {
            if (!ContainsNoCase(entry.text, key)) continue;
            if (match == nullptr) {
                if (entry.tooLong) {
                    Warn(entry.number, L"is the first line that contains " + name +
                                           L", but it is "
                                           L"longer than 254 characters: Clearon refuses " +
                                           name + L" (it stays empty) and says so in its log");
                    return;
                }
                match = &entry;
                continue;
            }
            if (EqualsNoCase(KeyPart(entry.text), key)) {
                Warn(entry.number, L"Clearon reads " + name +
                                       L" only from the first line that "
                                       L"contains it (line " +
                                       std::to_wstring(match->number) + L"): this line is ignored");
            }
        }
        if (match == nullptr) return;

        const std::wstring value = FindSectionValue(text_, key).value;
        const std::wstring_view keyPart = KeyPart(match->text);
        if (!EqualsNoCase(keyPart, key)) {
            Warn(match->number, L"Clearon takes " + name +
                                    L" from this line, the first [Settings] "
                                    L"line that contains \"" +
                                    name + L"\" anywhere (here in " + Quoted(keyPart) + L"): " +
                                    name + L" = " + Quoted(value));
        } else {
            Note(match->number, name + L" = " + Quoted(value));
        }
        if (match->text.find(kEquals) == std::wstring::npos) {
            Warn(match->number, L"has no \"=\": " + name + L" is empty");
        }
        if (value.size() > kMaxFieldLength) {
            Warn(match->number, name + L" has " + std::to_wstring(value.size()) +
                                    L" characters, more than its 254: Clearon refuses it (it stays "
                                    L"empty) and says so in its log");
        }
        if (key == kKeyMessageBoxText) messageBoxLine_ = match->number;
        if (key == kKeyLogPath) logPathLine_ = match->number;
    }

    void CheckProgramLines() {
        std::map<std::size_t, int> listsPerLine;
        for (const std::wstring_view list : kProgramLists) {
            const std::wstring name(list);
            ForEachProgramLine(text_, list, [&](const SectionEntry& entry) {
                ++listsPerLine[entry.number];
                if (entry.tooLong) {
                    Warn(entry.number, L"a " + name +
                                           L" line longer than 254 characters: Clearon "
                                           L"skips it (a cut command could run something else)");
                    return;
                }
                const std::wstring_view keyPart = KeyPart(entry.text);
                if (!EqualsNoCase(keyPart, list)) {
                    const bool numbered = keyPart.size() > list.size() &&
                                          EqualsNoCase(keyPart.substr(0, list.size()), list);
                    (numbered
                         ? static_cast<void>(
                               Note(entry.number,
                                    L"counts as a " + name +
                                        L" line: the list name is found anywhere in a line"))
                         : Warn(entry.number, L"contains \"" + name + L"\" (in " + Quoted(keyPart) +
                                                  L"), so Clearon runs the text after its first "
                                                  L"\"=\" as a " +
                                                  name + L" program"));
                }
                const std::wstring command = ProgramCommand(entry.text);
                if (command.empty()) {
                    Warn(entry.number, L"a " + name + L" line with an empty command: nothing runs");
                    return;
                }
                if (IsAegiraInstaller(list, command)) {
                    Note(entry.number,
                         name + L" runs " + Quoted(command) +
                             L": recognised as Aegira's installer (it receives Clearon's "
                             L"own arguments" +
                             (result_.settings.ResumeAfterReboot
                                  ? L", and a restart can be registered after it)"
                                  : L"; ResumeAfterReboot is N, so no restart is registered "
                                    L"after it)"));
                    return;
                }
                Note(entry.number, name + L" runs " + Quoted(command));
                if (list == kKeyRunAfterRemoval && ContainsNoCase(command, L"setup") &&
                    ContainsNoCase(command, L"\\")) {
                    Warn(entry.number,
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
                Warn(number,
                     L"names both RunBeforeRemoval and RunAfterRemoval: the program runs "
                     L"before and again after the removal");
            }
        }
    }

    void CheckProductNames() {
        std::vector<Entry> names;
        ForEachSectionEntry(text_, kProductNamesHeader, [&](const SectionEntry& entry) {
            names.push_back({std::wstring(entry.text), entry.number, entry.tooLong});
            return true;
        });
        if (names.empty()) {
            Note(0, L"no product names: Clearon removes nothing (the program lists still run)");
        }
        for (std::size_t n = 0; n < names.size(); ++n) {
            const Entry& entry = names[n];
            const std::wstring_view name = entry.text;
            if (entry.tooLong) {
                Warn(entry.number, L"a product name longer than 254 characters: Clearon skips it");
                continue;
            }
            if (name.empty()) {
                Warn(
                    entry.number,
                    std::wstring(entry.number == result_.lineCount
                                     ? L"the file ends with a line end, so Clearon reads one more, "
                                       L"empty line, and it belongs to [ProductNames]"
                                     : L"an empty line in [ProductNames] counts as a name") +
                        L": an empty name matches nothing, but runs Proventia Desktop's remover "
                        L"(AgentRemove.exe) when Proventia Desktop is installed" +
                        (entry.number == result_.lineCount
                             ? L"; end the file with another section, or without a last line end"
                             : L""));
                continue;
            }
            Note(entry.number, L"product name " + Quoted(name));
            for (std::size_t k = 0; k < n; ++k) {
                if (EqualsNoCase(names[k].text, name)) {
                    Note(entry.number, L"already listed at line " +
                                           std::to_wstring(names[k].number) +
                                           L": searched for again");
                    break;
                }
            }
            if (TriggersProventiaCheck(name)) {
                if (EqualsNoCase(name, kProventiaProduct)) {
                    Note(entry.number,
                         L"also runs Proventia Desktop's own remover (AgentRemove.exe) "
                         L"when it is installed");
                } else {
                    Warn(entry.number,
                         Quoted(name) +
                             L" is a piece of \"Proventia Desktop\": "
                             L"besides the products it names, Clearon runs Proventia "
                             L"Desktop's remover (AgentRemove.exe) when that is installed");
                }
            }
            if (!IsScannableProductName(name)) {
                Warn(entry.number,
                     L"has " + std::to_wstring(name.size()) +
                         L" characters: names under 5 characters are never looked for in "
                         L"the uninstall keys, so it removes nothing");
            }
            if (TrimBlanks(name) != name || name.front() == L'\t' || name.back() == L'\t') {
                Warn(entry.number,
                     L"begins or ends with blanks, which are part of the name: it "
                     L"matches only display names that have them too");
            }
            if (HasSignExtended(name)) {
                Warn(entry.number,
                     std::wstring(
                         LooksLikeUtf8(name)
                             ? L"holds UTF-8 letters, which Clearon reads byte by byte "
                               L"(each becomes two or three characters)"
                             : L"holds letters above ASCII, which Clearon reads from a "
                               L"single-byte file as U+FF80..U+FFFF (0xE9 becomes U+FFE9, not "
                               L"é)") +
                         L": the name never matches the display name Windows stores; save the "
                         L"file as UTF-16 LE");
            }
            if (ContainsNoCase(name, kMakerName) && !result_.settings.RemoveTessaral) {
                Warn(entry.number,
                     L"names a product of the maker: entries whose display name "
                     L"contains \"Tessaral\" are left alone while RemoveTessaral is N");
            }
        }
    }

    void CheckUninstallPaths() {
        ForEachUninstallPath(text_, [&](const SectionEntry& entry) {
            if (entry.tooLong) {
                Warn(entry.number, L"a registry path longer than 254 characters: Clearon skips it");
                return;
            }
            Note(entry.number, L"also scanned: HKEY_LOCAL_MACHINE\\" + Visible(entry.text));
            for (const std::wstring_view prefix : kHivePrefixes) {
                if (entry.text.size() >= prefix.size() &&
                    EqualsNoCase(entry.text.substr(0, prefix.size()), prefix)) {
                    Warn(entry.number,
                         L"paths are taken below HKEY_LOCAL_MACHINE already: this one "
                         L"names a key that does not exist; leave the hive out");
                    break;
                }
            }
            if (TrimBlanks(entry.text) != entry.text) {
                Warn(entry.number,
                     L"begins or ends with blanks, which are part of the key path: "
                     L"the key is not found");
            }
        });
    }

    [[nodiscard]] std::size_t SwitchLine(bool Settings::*field) const {
        std::size_t line = 0;
        for (std::size_t i = 0; i < drop_.size(); ++i) {
            if (!switchLines_[i]) continue;
            for (const FlagSetting& flag : kFlagSettings) {
                if (flag.field == field && ContainsNoCase(drop_[i], flag.key) &&
                    ClassifyFlagValue(drop_[i]) != FlagValue::Neither) {
                    line = i + 1;
                }
            }
        }
        return line;
    }

    void CheckRunMode() {
        const Settings& settings = result_.settings;
        Settings scanned;
        ScanSettingsSection(text_, scanned);
        if (scanned.ShowMessageBox && settings.MessageBoxText.size() < kMinMessageBoxTextLength) {
            Warn(messageBoxLine_ != 0 ? messageBoxLine_ : SwitchLine(&Settings::ShowMessageBox),
                 L"ShowMessageBox is Y, but MessageBoxText has " +
                     std::to_wstring(settings.MessageBoxText.size()) +
                     L" characters after its escapes, fewer than 6: no notice is shown");
        }
        if (!settings.ShowGUI && settings.AskBeforeRemoval) {
            Warn(SwitchLine(&Settings::AskBeforeRemoval),
                 L"AskBeforeRemoval is Y (also the default) while ShowGUI is N: the Question box "
                 L"still appears before each removal, and the silent run waits until somebody "
                 L"answers it");
        }
        if (!settings.ShowGUI && settings.ShowMessageBox) {
            Warn(SwitchLine(&Settings::ShowMessageBox),
                 L"ShowMessageBox is Y while ShowGUI is N: the notice box still appears, and the "
                 L"silent run waits until somebody presses OK");
        }
        if (!settings.EnableLogging) {
            Note(SwitchLine(&Settings::EnableLogging),
                 L"EnableLogging is N: Clearon writes no log, so ClearonCheck report has nothing "
                 L"to read from these computers");
        }
    }

    void CheckLogPath() {
        if (!result_.settings.EnableLogging) return;
        const std::wstring value = FindSectionValue(text_, kKeyLogPath).value;
        const std::size_t line = logPathLine_;
        if (value.empty()) {
            Note(line, L"the run log is written beside Clearon.exe: Clearon.<computer name>.log");
            return;
        }
        std::vector<std::wstring> undefined;
        const auto lookup = [&](std::wstring_view name) -> std::optional<std::wstring> {
            std::optional<std::wstring> found =
                options_.environment ? options_.environment(name) : std::nullopt;
            if (!found && std::find(undefined.begin(), undefined.end(), name) == undefined.end()) {
                undefined.emplace_back(name);
            }
            return found;
        };
        const std::wstring expanded = ExpandLogPathReferences(value, lookup);
        const std::wstring directory = LogDirectoryFromSetting(value, L"", lookup);
        for (const std::wstring& name : undefined) {
            Warn(line, L"%" + name + L"% is not defined in " + options_.environmentSource +
                           L": Clearon removes the reference and logs to " + Quoted(directory));
        }
        if (expanded.empty()) {
            Warn(line,
                 L"the expansion of LogPath is refused (a variable's value names itself, or "
                 L"the path grows past 511 characters): Clearon logs to \"\\\", the root of "
                 L"the current drive");
        }
        const std::wstring path =
            ComposeLogFilePath(directory, std::wstring(kLongestComputerName, L'W'));
        if (path.empty()) {
            Warn(line,
                 L"with a computer name of 15 characters the log path would be longer than "
                 L"254 characters: Clearon then writes everything to Clearon_Err.log beside "
                 L"Clearon.exe");
        }
        Note(line,
             L"the run log goes to " + Quoted(directory) + L" as Clearon.<computer name>.log");
    }

    std::wstring_view text_;
    const LintOptions& options_;
    LintResult& result_;
    std::vector<RawLine> raw_;
    std::vector<std::wstring> keep_;
    std::vector<std::wstring> drop_;
    std::vector<bool> switchLines_;
    std::size_t messageBoxLine_ = 0;
    std::size_t logPathLine_ = 0;
};

[[nodiscard]] bool StartsWithBytes(std::span<const std::uint8_t> bytes,
                                   std::initializer_list<std::uint8_t> prefix) {
    if (bytes.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

// Why the format check failed, in words a person can act on.
[[nodiscard]] std::wstring ExplainBadFormat(std::span<const std::uint8_t> bytes) {
    if (StartsWithBytes(bytes, {0xEF, 0xBB, 0xBF})) {
        return L"the file starts with a UTF-8 byte-order mark, which Clearon refuses: save it as "
               L"ANSI or as UTF-16 LE (\"Unicode\")";
    }
    if (StartsWithBytes(bytes, {0xFE, 0xFF})) {
        return L"the file is UTF-16 big-endian: Clearon reads UTF-16 little-endian only";
    }
    const std::wstring wide = DecodeUtf16Le(bytes);
    const std::wstring narrow = DecodeSignExtended(bytes);
    std::wstring missing;
    for (const std::wstring_view header : {kSettingsHeader, kProductNamesHeader}) {
        if (!ContainsNoCase(wide, header) && !ContainsNoCase(narrow, header)) {
            if (!missing.empty()) missing += L" and ";
            missing += header;
        }
    }
    if (!missing.empty()) {
        return L"Clearon finds no " + missing +
               L" in it (the headers may stand anywhere, even in a comment, but both must be "
               L"there)";
    }
    return L"the headers are there, but a character 0 ends the text before one of them, or the two "
           L"are in different encodings";
}

}  // namespace

LintResult LintRefusedFile(int exitCode, std::wstring_view why) {
    LintResult result;
    result.exitCode = exitCode;
    result.refusal = ConfigErrorMessage(exitCode);
    result.findings.push_back({0, Severity::Error, std::wstring(why)});
    return result;
}

LintResult LintConfigBytes(std::span<const std::uint8_t> bytes, const LintOptions& options) {
    if (const int sizeResult = CheckConfigFileSize(bytes.size()); sizeResult != 0) {
        return LintRefusedFile(sizeResult, sizeResult == kExitConfigBlank
                                               ? L"the file is empty"
                                               : L"the file has " + std::to_wstring(bytes.size()) +
                                                     L" bytes; Clearon takes at most 65,535");
    }
    std::wstring text;
    const int decoded = DecodeConfigBytes(bytes, &bytes, text);
    if (decoded == kExitConfigBadFormat) return LintRefusedFile(decoded, ExplainBadFormat(bytes));
    if (decoded != 0) {
        return LintRefusedFile(decoded,
                               L"a single-byte file of 65,535 bytes without a byte 0 is "
                               L"one character more than Clearon's text can hold");
    }

    LintResult result;
    result.readAsUtf16 = IsValidConfigText(DecodeUtf16Le(bytes));
    const std::size_t units = result.readAsUtf16 ? (bytes.size() + 1) / 2 : bytes.size();
    Linter(text, options, result).Run();

    std::wstring reading = result.readAsUtf16 ? L"read as UTF-16 LE" : L"read as single-byte text";
    reading += L", " + std::to_wstring(bytes.size()) + L" bytes, " +
               std::to_wstring(result.lineCount) + L" lines";
    result.findings.insert(result.findings.begin(), {0, Severity::Note, reading});
    if (text.size() < units) {
        result.findings.push_back(
            {result.lineCount, Severity::Warning,
             L"a character 0 ends the configuration here: the rest of the file is ignored"});
    }
    if (result.readAsUtf16 && bytes.size() % 2 != 0) {
        result.findings.push_back({0, Severity::Warning,
                                   L"a UTF-16 file with an odd number of bytes: its last byte is "
                                   L"read with a 0 beside it"});
    }
    if (!result.readAsUtf16 && HasSignExtended(text) && LooksLikeUtf8(text)) {
        result.findings.push_back(
            {0, Severity::Warning,
             L"the file looks like UTF-8 without a byte-order mark: Clearon reads it byte by byte, "
             L"so every letter beyond ASCII becomes two or three characters; save it as UTF-16 "
             L"LE"});
    }
    std::stable_sort(result.findings.begin(), result.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    const bool warned =
        std::any_of(result.findings.begin(), result.findings.end(),
                    [](const Finding& f) { return f.severity == Severity::Warning; });
    result.exitCode = warned ? kLintWarnings : kLintClean;
    return result;
}

std::wstring FormatLint(const LintResult& result, std::wstring_view path) {
    std::wstring out;
    std::size_t warnings = 0;
    out += L"Checking " + std::wstring(path) + L"\n";
    for (const Finding& finding : result.findings) {
        out += finding.line == 0 ? std::wstring(L"file: ")
                                 : L"line " + std::to_wstring(finding.line) + L": ";
        switch (finding.severity) {
            case Severity::Note:
                break;
            case Severity::Warning:
                out += L"warning: ";
                ++warnings;
                break;
            case Severity::Error:
                out += L"error: ";
                break;
        }
        out += finding.text;
        out += L"\n";
    }
    if (!result.refusal.empty()) {
        out += L"Clearon refuses this file with exit code " + std::to_wstring(result.exitCode) +
               L" and the message: " + result.refusal + L"\n";
        return out;
    }
    const Settings& s = result.settings;
    out += L"Settings as Clearon reads them:";
    for (const FlagSetting& flag : kFlagSettings) {
        out += L" " + std::wstring(flag.key) + L"=" + std::wstring(OnOff(s.*flag.field));
    }
    out += L"\n";
    out += L"Summary: " + std::to_wstring(warnings) + L" warning(s); exit status " +
           std::to_wstring(result.exitCode) + L"\n";
    return out;
}

}  // namespace clearon::check
