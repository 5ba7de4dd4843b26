#include "config/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/config_lines.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

// The flags as one comparable value, in declaration order.
std::vector<bool> Flags(const Settings& s) {
    return {s.ShowGUI,        s.AutoRunAfterUILoads, s.AskBeforeRemoval,  s.SilentMSIInstaller,
            s.RemoveTessaral, s.CheckDiskSpace,      s.ResumeAfterReboot, s.EnableLogging,
            s.ShowMessageBox};
}

// Defaults: ask, silent, disk check, resume and logging on; the rest off.
const std::vector<bool> kDefaultFlags{false, false, true, true, false, true, true, true, false};

std::vector<bool> DefaultsWith(std::initializer_list<std::pair<int, bool>> changes) {
    std::vector<bool> flags = kDefaultFlags;
    for (const auto& [index, value] : changes) flags[static_cast<std::size_t>(index)] = value;
    return flags;
}

enum FlagIndex {
    kShowGUI,
    kAutoRun,
    kAsk,
    kSilent,
    kRemoveTessaral,
    kDiskSpace,
    kResume,
    kLogging,
    kShowBox
};

struct ParseCase {
    const char* name;
    std::wstring line;
    std::vector<bool> expected;
};

TEST(ParseSettingsLine, ValueTexts) {
    const ParseCase cases[] = {
        {"=Y sets", L"ShowGUI=Y", DefaultsWith({{kShowGUI, true}})},
        {"=Yes sets, any key case", L"showgui=Yes", DefaultsWith({{kShowGUI, true}})},
        {"=TRUE sets", L"RemoveTessaral=TRUE", DefaultsWith({{kRemoveTessaral, true}})},
        {"=no clears", L"AskBeforeRemoval=no", DefaultsWith({{kAsk, false}})},
        {"=False clears", L"EnableLogging=False", DefaultsWith({{kLogging, false}})},
        {"=1 changes nothing", L"ShowGUI=1", kDefaultFlags},
        {"=0 changes nothing", L"AskBeforeRemoval=0", kDefaultFlags},
        {"no value changes nothing", L"ShowGUI", kDefaultFlags},
        {"two keys on one line", L"ShowGUI=YRemoveTessaral=Y",
         DefaultsWith({{kShowGUI, true}, {kRemoveTessaral, true}})},
        {"yes and no on one line clears", L"ShowGUI=Yes;was=No", kDefaultFlags},
        {"yes and no on one line clears a default-on flag", L"ResumeAfterReboot=Y,=N",
         DefaultsWith({{kResume, false}})},
        {"values anywhere in the line", L"x=YShowMessageBox", DefaultsWith({{kShowBox, true}})},
        {"key inside a longer word", L"NoAutoRunAfterUILoadsHere=Y",
         DefaultsWith({{kAutoRun, true}})},
        {"unknown key", L"Colour=Y", kDefaultFlags},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        ParseSettingsLine(c.line, settings);
        EXPECT_EQ(Flags(settings), c.expected);
    }
}

struct ScanCase {
    const char* name;
    std::wstring config;
    std::vector<bool> expected;
};

TEST(ScanSettingsSection, WalksTheSectionWithSpacesDropped) {
    const ScanCase cases[] = {
        {"no settings lines", L"[Settings]\r\n[ProductNames]\r\nAcme\r\n", kDefaultFlags},
        {"spaces inside key and value", L"[Settings]\r\n   Show GUI = Y\r\n",
         DefaultsWith({{kShowGUI, true}})},
        {"last recognised line wins", L"[Settings]\r\nShowGUI=Yes\r\nShowGUI=No\r\n",
         kDefaultFlags},
        {"unrecognised value keeps the earlier one", L"[Settings]\r\nShowGUI=Y\r\nShowGUI=1\r\n",
         DefaultsWith({{kShowGUI, true}})},
        {"comment has no effect", L"[Settings]\r\n;EnableLogging=false\r\n", kDefaultFlags},
        {"spaces then ; is a comment here", L"[Settings]\r\n   ; EnableLogging=false\r\n",
         kDefaultFlags},
        {"after a bracket line no effect", L"[Settings]\r\nNote=see [x]\r\nEnableLogging=false\r\n",
         kDefaultFlags},
        {"header text again restarts the section",
         L"[Settings]\r\nNote=see [x]\r\nShowGUI=Y\r\n;[Settings] again\r\nRemoveTessaral=Y\r\n",
         DefaultsWith({{kRemoveTessaral, true}})},
        {"the header line itself is applied", L"[Settings] ShowGUI=Y\r\n",
         DefaultsWith({{kShowGUI, true}})},
        {"other sections are ignored", L"[ProductNames]\r\nShowGUI=Y\r\n[Settings]\r\n",
         kDefaultFlags},
        {"bare line feed cuts the value", L"[Settings]\r\nShowGUI=Y\nEnableLogging=N\n",
         kDefaultFlags},
        {"bare line feed cuts the last non-space",
         L"[Settings]\r\nShowGUI=Yes \nAskBeforeRemoval=No\n",
         DefaultsWith({{kShowGUI, true}, {kAsk, false}})},
        {"a bare line feed cuts the header's bracket", L"[Settings]\nShowGUI=Yes\r\n",
         kDefaultFlags},
        {"last line without line end", L"[Settings]\r\nShowGUI=Y",
         DefaultsWith({{kShowGUI, true}})},
        {"utf-16 mark before the header", L"\uFEFF[Settings]\r\nShowGUI=Y\r\n",
         DefaultsWith({{kShowGUI, true}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Settings settings;
        ScanSettingsSection(c.config, settings);
        EXPECT_EQ(Flags(settings), c.expected);
    }
}

struct ValueCase {
    const char* name;
    std::wstring config;
    std::wstring_view key;
    std::wstring expected;
};

TEST(GetSectionValue, FirstMatchingLine) {
    const std::wstring prefix = L"MSIExtraParameters=";
    const std::wstring fits = prefix + std::wstring(kMaxLineLength - prefix.size(), L'v');
    const std::wstring tooLong = prefix + std::wstring(kMaxLineLength + 1 - prefix.size(), L'w');
    const ValueCase cases[] = {
        {"space after = skipped, second = kept",
         L"[Settings]\r\nMSIExtraParameters= TRANSFORMS=x.mst\r\n", kKeyMSIExtraParameters,
         L"TRANSFORMS=x.mst"},
        {"tab is not skipped", L"[Settings]\r\nLogPath=\tC:\\x\r\n", kKeyLogPath, L"\tC:\\x"},
        {"inner and trailing spaces kept", L"[Settings]\r\nMessageBoxText =  a b  \r\n",
         kKeyMessageBoxText, L"a b  "},
        {"no equals sign", L"[Settings]\r\nLogPath\r\n", kKeyLogPath, L""},
        {"empty value", L"[Settings]\r\nLogPath=\r\n", kKeyLogPath, L""},
        {"first line wins", L"[Settings]\r\nLogPath=C:\\A\r\nLogPath=C:\\B\r\n", kKeyLogPath,
         L"C:\\A"},
        {"longer key containing the key comes first",
         L"[Settings]\r\nOldLogPath=C:\\Old\r\nLogPath=C:\\New", kKeyLogPath, L"C:\\Old"},
        {"key in any case", L"[Settings]\r\nlogpath=C:\\x", kKeyLogPath, L"C:\\x"},
        {"comment skipped", L"[Settings]\r\n;LogPath=C:\\A\r\nLogPath=C:\\B", kKeyLogPath,
         L"C:\\B"},
        {"space then ; is an entry here", L"[Settings]\r\n ;LogPath=C:\\A\r\nLogPath=C:\\B",
         kKeyLogPath, L"C:\\A"},
        {"bracket line cannot match", L"[Settings]\r\nLogPath=C:\\[x]\r\nLogPath=C:\\B",
         kKeyLogPath, L""},
        {"after a bracket line until the header",
         L"[Settings]\r\nNote [x]\r\nLogPath=C:\\A\r\n[Settings]\r\nLogPath=C:\\B", kKeyLogPath,
         L"C:\\B"},
        {"outside the section", L"[ProductNames]\r\nLogPath=C:\\A\r\n[Settings]\r\n", kKeyLogPath,
         L""},
        {"crlf keeps the value whole", L"[Settings]\r\nLogPath=C:\\Logs\r\n", kKeyLogPath,
         L"C:\\Logs"},
        {"bare line feed cuts it", L"[Settings]\r\nLogPath=C:\\Logs\n", kKeyLogPath, L"C:\\Log"},
        {"last line whole", L"[Settings]\r\nLogPath=C:\\Logs", kKeyLogPath, L"C:\\Logs"},
        {"line of 254 characters is used", L"[Settings]\r\n" + fits + L"\r\n",
         kKeyMSIExtraParameters, fits.substr(prefix.size())},
        {"line of 255 characters is skipped",
         L"[Settings]\r\n" + tooLong + L"\r\nMSIExtraParameters=/x", kKeyMSIExtraParameters, L"/x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GetSectionValue(c.config, c.key), c.expected);
    }
}

TEST(FindSectionValue, ReportsSkippedLongLines) {
    const std::wstring longLine = L"LogPath=" + std::wstring(kMaxLineLength, L'x');
    const SectionValue skipped =
        FindSectionValue(L"[Settings]\r\n" + longLine + L"\r\nLogPath=C:\\B", kKeyLogPath);
    EXPECT_TRUE(skipped.skippedTooLong);
    EXPECT_EQ(skipped.value, L"C:\\B");
    // A long line after the match is never reached; one without the key does not count.
    const SectionValue after =
        FindSectionValue(L"[Settings]\r\nLogPath=C:\\B\r\n" + longLine, kKeyLogPath);
    EXPECT_FALSE(after.skippedTooLong);
    const SectionValue other = FindSectionValue(
        L"[Settings]\r\nX" + std::wstring(300, L'y') + L"\r\nLogPath=C:\\B", kKeyLogPath);
    EXPECT_FALSE(other.skippedTooLong);
    EXPECT_EQ(other.value, L"C:\\B");
}

TEST(UnescapeMessageBoxText, LineFeedsThenTabs) {
    const struct {
        std::wstring value;
        std::wstring expected;
    } cases[] = {
        {L"Please save\\nyour work", L"Please save\nyour work"},
        {L"A\\Nb\\Tc\\td", L"A\nb\tc\td"},
        {L"no escapes", L"no escapes"},
        {L"C:\\temp", L"C:\temp"},  // a path is not spared
        {L"\\\\n", L"\\\n"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(UnescapeMessageBoxText(c.value), c.expected);
}

TEST(ReadSettings, DefaultsWithoutSettingsLines) {
    Settings settings;
    const auto refused = ReadSettings(L"[Settings]\r\n[ProductNames]\r\nAcme\r\n", settings);
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(Flags(settings), kDefaultFlags);
    EXPECT_EQ(settings.MessageBoxText, L"");
    EXPECT_EQ(settings.MSIExtraParameters, L"");
    EXPECT_EQ(settings.InstallShieldExtraParameters, L"");
    EXPECT_EQ(settings.DefaultExtraParameters, L"");
}

TEST(ReadSettings, NoticeNeedsSixCharacters) {
    const struct {
        std::wstring line;
        bool showMessageBox;
        std::wstring text;
    } cases[] = {
        {L"MessageBoxText=Hello", false, L"Hello"},
        {L"MessageBoxText=Hello!", true, L"Hello!"},
        {L"MessageBoxText=Save\\nnow", true, L"Save\nnow"},
        {L"MessageBoxText=abc\\td", false, L"abc\td"},  // six before the escape, five after
        {L"Colour=x", false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.size());
        Settings settings;
        const auto refused = ReadSettings(
            L"[Settings]\r\nShowMessageBox=Y\r\n" + c.line + L"\r\n[ProductNames]\r\n", settings);
        EXPECT_TRUE(refused.empty());
        EXPECT_EQ(settings.ShowMessageBox, c.showMessageBox);
        EXPECT_EQ(settings.MessageBoxText, c.text);
    }
}

TEST(ReadSettings, ParameterStrings) {
    Settings settings;
    const auto refused = ReadSettings(
        L"[Settings]\r\nMSIExtraParameters= "
        L"TRANSFORMS=x.mst\r\nInstallShieldExtraParameters=-f1\"C:\\a.iss\"\r\n"
        L"DefaultExtraParameters=/S /NORESTART\r\nShowGUI=Y\r\n[ProductNames]\r\n",
        settings);
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(settings.MSIExtraParameters, L"TRANSFORMS=x.mst");
    EXPECT_EQ(settings.InstallShieldExtraParameters, L"-f1\"C:\\a.iss\"");
    EXPECT_EQ(settings.DefaultExtraParameters, L"/S /NORESTART");
    EXPECT_TRUE(settings.ShowGUI);
}

TEST(ReadSettings, LongLinesAreRefusedNotCut) {
    const auto lineOf = [](std::wstring_view key, std::size_t length) {
        std::wstring line = std::wstring(key) + L"=";
        line.append(length - line.size(), L'p');
        return line;
    };
    const struct {
        std::size_t length;
        bool refused;
    } cases[] = {{kMaxLineLength, false}, {kMaxLineLength + 1, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Settings settings;
        settings.MSIExtraParameters = L"stale";
        const std::wstring msi = lineOf(kKeyMSIExtraParameters, c.length);
        const std::wstring notice = lineOf(kKeyMessageBoxText, c.length);
        const auto refused =
            ReadSettings(L"[Settings]\r\nShowMessageBox=Y\r\n" + msi + L"\r\n" + notice +
                             L"\r\nMSIExtraParameters=/later\r\n[ProductNames]\r\n",
                         settings);
        if (c.refused) {
            EXPECT_EQ(refused, (std::vector<std::wstring>{std::wstring(kKeyMessageBoxText),
                                                          std::wstring(kKeyMSIExtraParameters)}));
            EXPECT_EQ(settings.MSIExtraParameters, L"");
            EXPECT_EQ(settings.MessageBoxText, L"");
            EXPECT_FALSE(settings.ShowMessageBox);
        } else {
            EXPECT_TRUE(refused.empty());
            EXPECT_EQ(settings.MSIExtraParameters, msi.substr(kKeyMSIExtraParameters.size() + 1));
            EXPECT_EQ(settings.MessageBoxText, notice.substr(kKeyMessageBoxText.size() + 1));
            EXPECT_TRUE(settings.ShowMessageBox);
        }
    }
}

TEST(ReadSettings, ProgramTimeLimit) {
    struct Case {
        std::wstring lines;
        std::uint32_t minutes;
        bool refused;
    };
    const Case cases[] = {
        {L"", 0, false},
        {L"ProgramTimeLimit=0\r\n", 0, false},
        {L"ProgramTimeLimit = 45 \r\n", 45, false},
        {L"programtimelimit=99999\r\n", 99999, false},
        {L"ProgramTimeLimit=100000\r\n", 0, true},
        {L"ProgramTimeLimit=4294967301\r\n", 0, true},  // wraps to 5 in 32 bits
        {L"ProgramTimeLimit=-5\r\n", 0, true},
        {L"ProgramTimeLimit=10m\r\n", 0, true},
        {L"ProgramTimeLimit=\r\n", 0, false},
        // The first line holding the key wins, as for every value.
        {L"; ProgramTimeLimit=7\r\nProgramTimeLimit=9\r\n", 9, false},
        {L"ProgramTimeLimit=7\r\nProgramTimeLimit=9\r\n", 7, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Settings settings;
        const auto refused = ReadSettings(
            L"[Settings]\r\nShowGUI=N\r\n" + c.lines + L"[ProductNames]\r\n", settings);
        EXPECT_EQ(settings.ProgramTimeLimit, c.minutes);
        EXPECT_EQ(refused, c.refused ? std::vector<std::wstring>{std::wstring(kKeyProgramTimeLimit)}
                                     : std::vector<std::wstring>{});
    }
    // The wait for another run reads its minutes the same way; absent or
    // refused, it keeps its default.
    const Case otherRun[] = {
        {L"", 15, false},
        {L"OtherRunTimeLimit=\r\n", 15, false},
        {L"OtherRunTimeLimit=0\r\n", 0, false},
        {L"otherruntimelimit = 2 \r\n", 2, false},
        {L"OtherRunTimeLimit=100000\r\n", 15, true},
        {L"OtherRunTimeLimit=1.5\r\n", 15, true},
    };
    for (const Case& c : otherRun) {
        SCOPED_TRACE(&c - otherRun);
        Settings settings;
        const auto refused = ReadSettings(
            L"[Settings]\r\nProgramTimeLimit=3\r\n" + c.lines + L"[ProductNames]\r\n", settings);
        EXPECT_EQ(settings.OtherRunTimeLimit, c.minutes);
        EXPECT_EQ(settings.ProgramTimeLimit, 3u);
        EXPECT_EQ(refused, c.refused
                               ? std::vector<std::wstring>{std::wstring(kKeyOtherRunTimeLimit)}
                               : std::vector<std::wstring>{});
    }
}

TEST(ReadSettings, AllowedWriterSidsTakesSidsOrNothing) {
    const struct {
        std::wstring value;
        std::vector<std::wstring> sids;
        bool refused;
    } cases[] = {
        {L"", {}, false},
        {L"S-1-5-21-1-2-3-1105", {L"S-1-5-21-1-2-3-1105"}, false},
        {L"S-1-5-32-549, s-1-5-21-1-2-3-1105;S-1-5-9",
         {L"S-1-5-32-549", L"s-1-5-21-1-2-3-1105", L"S-1-5-9"},
         false},
        {L"S-1-5-32-549, Users", {}, true},
        {L"S-1-5--1", {}, true},
        {L"S-1-5-", {}, true},
        {L"S-2-5-18", {}, true},
    };
    for (const auto& c : cases) {
        Settings settings;
        settings.AllowedWriterSids = {L"S-1-5-7"};
        const auto refused = ReadSettings(
            L"[Settings]\r\nAllowUserWritablePrograms=Y\r\nAllowedWriterSids=" + c.value + L"\r\n",
            settings);
        EXPECT_EQ(settings.AllowedWriterSids, c.sids) << c.value;
        EXPECT_EQ(refused.size(), c.refused ? 1u : 0u) << c.value;
        EXPECT_TRUE(settings.AllowUserWritablePrograms);
    }
}

// Values are found in the first line that contains their key anywhere, so
// the time limit's key must neither hide inside another key nor hold one.
TEST(ReadSettings, ProgramTimeLimitKeyStandsApart) {
    std::vector<std::wstring_view> others{kKeyMessageBoxText,
                                          kKeyMSIExtraParameters,
                                          kKeyInstallShieldExtraParameters,
                                          kKeyDefaultExtraParameters,
                                          kKeyLogPath,
                                          kKeyAllowedWriterSids,
                                          kKeyRunBeforeRemoval,
                                          kKeyRunAfterRemoval};
    for (const FlagSetting& flag : kFlagSettings) others.push_back(flag.key);
    others.push_back(kKeyProgramTimeLimit);
    for (const std::wstring_view limit : {kKeyProgramTimeLimit, kKeyOtherRunTimeLimit}) {
        for (const std::wstring_view key : others) {
            if (key == limit) continue;
            EXPECT_FALSE(ContainsNoCase(key, limit)) << key.size();
            EXPECT_FALSE(ContainsNoCase(limit, key)) << key.size();
        }
    }
}

// A stand-in for the environment; names are matched exactly.
struct Environment {
    std::map<std::wstring, std::wstring, std::less<>> variables;
    mutable std::vector<std::wstring> asked;
    std::optional<std::wstring> operator()(std::wstring_view name) const {
        asked.emplace_back(name);
        const auto found = variables.find(name);
        if (found == variables.end()) return std::nullopt;
        return found->second;
    }
};

struct LogPathCase {
    const char* name;
    std::wstring value;
    std::wstring exeDirectory;
    std::wstring expected;
};

TEST(LogDirectoryFromSetting, ExpansionAndTrailingBackslash) {
    Environment env;
    env.variables = {
        {L"SystemRoot", L"C:\\Windows"},
        {L"TEMP", L"C:\\T"},
        {L"SELF", L"x%self%"},
        {L"PING", L"%PONG%"},
        {L"PONG", L"%PING%"},
        {L"NEXT", L"%SystemRoot%"},
        {L"HUGE", std::wstring(300, L'h')},
        {L"PCT", L"50%"},
    };
    const LogPathCase cases[] = {
        {"variable expanded", L"%SystemRoot%\\Temp", L"C:\\Tools", L"C:\\Windows\\Temp\\"},
        {"undefined variable removed", L"%NOSUCHVAR%\\Logs", L"C:\\Tools", L"\\Logs\\"},
        {"single trailing backslash kept", L"D:\\Logs\\", L"C:\\Tools", L"D:\\Logs\\"},
        {"empty value gives the executable's directory", L"", L"C:\\Tools", L"C:\\Tools\\"},
        {"executable at a drive root", L"", L"C:", L"C:\\"},
        {"empty everything", L"", L"", L"\\"},
        {"every occurrence replaced at once", L"%TEMP%\\%temp%", L"", L"C:\\T\\C:\\T\\"},
        {"reference at the start of a rewritten path is not opened", L"%NOSUCHVAR%%TEMP%\\x", L"",
         L"%TEMP%\\x\\"},
        {"later reference still expanded after a rewrite", L"%NOSUCHVAR%x%TEMP%", L"", L"xC:\\T\\"},
        {"value naming another reference", L"y%NEXT%\\L", L"", L"yC:\\Windows\\L\\"},
        {"unclosed percent", L"C:\\50%\\Logs", L"", L"C:\\50%\\Logs\\"},
        {"empty name", L"%%\\Logs", L"", L"\\Logs\\"},
        // The value's percent sign pairs with the next one in the path.
        {"value with a percent", L"C:\\%PCT%\\x%TEMP%", L"", L"C:\\50TEMP%\\"},
        {"self-referencing value empties the path", L"%SELF%\\Logs", L"", L"\\"},
        {"mutual references end", L"x%PING%", L"", L"\\"},
        {"expansion past the replace capacity empties the path", L"%HUGE%%HUGE%", L"", L"\\"},
        {"executable directory is expanded too", L"", L"C:\\%TEMP%", L"C:\\C:\\T\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LogDirectoryFromSetting(c.value, c.exeDirectory, std::cref(env)), c.expected);
    }
}

TEST(ExpandLogPathReferences, AsksForNamesWithoutPercentSigns) {
    Environment env;
    env.variables = {{L"A", L"1"}};
    EXPECT_EQ(ExpandLogPathReferences(L"%A%\\%B%\\c", std::cref(env)), L"1\\\\c");
    EXPECT_EQ(env.asked, (std::vector<std::wstring>{L"A", L"B"}));
    env.asked.clear();
    EXPECT_EQ(ExpandLogPathReferences(L"C:\\Logs", std::cref(env)), L"C:\\Logs");
    EXPECT_TRUE(env.asked.empty());
}

TEST(ComposeLogFilePath, NameAndLengthLimit) {
    EXPECT_EQ(ComposeLogFilePath(L"C:\\Windows\\Temp\\", std::wstring(L"WS0142")),
              L"C:\\Windows\\Temp\\Clearon.WS0142.log");
    EXPECT_EQ(ComposeLogFilePath(L"C:\\Tools\\", std::nullopt), L"C:\\Tools\\Clearon.log");

    const std::wstring name = L"WS0142";
    const std::size_t fixed = std::wstring_view(L"Clearon..log").size() + name.size();
    const std::wstring fits(kMaxFieldLength - fixed, L'd');
    EXPECT_EQ(ComposeLogFilePath(fits, name).size(), kMaxFieldLength);
    EXPECT_EQ(ComposeLogFilePath(fits + L"d", name), L"");
    const std::wstring fitsUnnamed(kMaxFieldLength - std::wstring_view(L"Clearon.log").size(),
                                   L'd');
    EXPECT_EQ(ComposeLogFilePath(fitsUnnamed, std::nullopt).size(), kMaxFieldLength);
    EXPECT_EQ(ComposeLogFilePath(fitsUnnamed + L"d", std::nullopt), L"");
}

}  // namespace
}  // namespace clearon
