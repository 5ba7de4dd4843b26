#include "removal/command_line.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "log/log_texts.h"

namespace clearon {
namespace {

// A machine with these files (case ignored, as Windows compares names).
FileExistsFn FilesOnDisk(std::vector<std::wstring> files,
                         std::vector<std::wstring>* asked = nullptr) {
    return [files = std::move(files), asked](std::wstring_view path) {
        if (asked != nullptr) asked->emplace_back(path);
        for (const auto& file : files) {
            if (file.size() != path.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < file.size() && same; ++i) {
                auto fold = [](wchar_t c) {
                    return (c >= L'A' && c <= L'Z') ? wchar_t(c + 32) : c;
                };
                same = fold(file[i]) == fold(path[i]);
            }
            if (same) return true;
        }
        return false;
    };
}

// What QuoteProgramPath answers when the command must not run.
const std::wstring kRefused = L"<refused>";

struct QuoteCase {
    const wchar_t* name;
    std::wstring command;
    std::vector<std::wstring> files;
    std::wstring expected;  // kRefused: nothing may run
};

TEST(QuoteProgramPath, ProgramPathsWithBlanksAreQuotedOrRefused) {
    const std::wstring planted = L"C:\\Program.exe";
    const std::wstring acme = L"C:\\Program Files\\Acme\\";
    const QuoteCase cases[] = {
        {L"exe path with blank, planted prefix",
         acme + L"uninst.exe /S",
         {planted, acme + L"uninst.exe"},
         L"\"" + acme + L"uninst.exe\" /S"},
        {L"exe path with blank, uninstaller gone", acme + L"uninst.exe /S", {planted}, kRefused},
        {L"exe at the end",
         acme + L"uninst.exe",
         {acme + L"uninst.exe"},
         L"\"" + acme + L"uninst.exe\""},
        {L"upper-case EXE",
         L"C:\\Program Files (x86)\\Acme\\UNINST.EXE /x /y",
         {L"C:\\Program Files (x86)\\Acme\\UNINST.EXE"},
         L"\"C:\\Program Files (x86)\\Acme\\UNINST.EXE\" /x /y"},
        {L"tab after exe", L"C:\\A B\\u.exe\t/S", {L"C:\\A B\\u.exe"}, L"\"C:\\A B\\u.exe\"\t/S"},
        {L"leading blanks kept",
         L"  C:\\A B\\u.exe /S",
         {L"C:\\A B\\u.exe"},
         L"  \"C:\\A B\\u.exe\" /S"},
        {L"already quoted",
         L"\"" + acme + L"uninst.exe\" /S",
         {planted},
         L"\"" + acme + L"uninst.exe\" /S"},
        {L"no blank in path",
         L"C:\\Tools\\unins000.exe /SP- /VERYSILENT",
         {},
         L"C:\\Tools\\unins000.exe /SP- /VERYSILENT"},
        {L"msiexec by name",
         L"MsiExec.exe /X{1234} REMOVE=ALL REBOOT=R /qn",
         {},
         L"MsiExec.exe /X{1234} REMOVE=ALL REBOOT=R /qn"},
        {L".exe inside a longer name is not the end", L"C:\\A B\\x.exec.bin /q", {}, kRefused},
        {L"first .exe ends a token in an argument but a quote intervenes",
         L"tool /p=\"C:\\A B\" C:\\x.exe",
         {},
         L"tool /p=\"C:\\A B\" C:\\x.exe"},
        // The program ends before the first argument: a ".exe" in an
        // argument never makes the whole text one path.
        {L".exe inside an argument",
         L"C:\\Acme\\uninst /log C:\\Log Files\\x.exe",
         {L"C:\\Acme\\uninst.exe", L"C:\\Log Files\\x.exe"},
         L"C:\\Acme\\uninst /log C:\\Log Files\\x.exe"},
        {L".exe inside a dash argument",
         L"C:\\Acme\\uninst -log C:\\Log Files\\x.exe",
         {},
         L"C:\\Acme\\uninst -log C:\\Log Files\\x.exe"},
        {L"a dash inside a folder name",
         L"C:\\Acme - Tools\\u.exe /S",
         {L"C:\\Acme - Tools\\u.exe"},
         L"\"C:\\Acme - Tools\\u.exe\" /S"},
        // Without ".exe": Windows would try C:\Program.exe first.
        {L"no extension: planted prefix, real program",
         acme + L"setup /remove /q",
         {planted, acme + L"setup.exe"},
         L"\"" + acme + L"setup\" /remove /q"},
        {L"no extension: planted prefix, program gone",
         acme + L"uninstall /S",
         {planted},
         kRefused},
        {L"no extension: the last name holds a blank",
         acme + L"Acme Remover /S",
         {planted, acme + L"Acme Remover.exe"},
         L"\"" + acme + L"Acme Remover\" /S"},
        {L"no extension: the continued path only, not a shorter prefix",
         acme + L"Acme Remover /S",
         {planted, L"C:\\Program Files\\Acme.exe"},
         kRefused},
        {L"an extension is never completed with .exe",
         acme + L"remove.com -x",
         {acme + L"remove.com.exe"},
         kRefused},
        {L"no extension, exact file name",
         acme + L"remove.com -x",
         {acme + L"remove.com"},
         L"\"" + acme + L"remove.com\" -x"},
        {L"no extension, whole command is the file",
         acme + L"setup",
         {planted, acme + L"setup.exe"},
         L"\"" + acme + L"setup\""},
        {L"first token exists: left alone",
         L"C:\\Tools\\remove.com -x Files y",
         {L"C:\\Tools\\remove.com", L"C:\\Tools\\remove.com -x Files"},
         L"C:\\Tools\\remove.com -x Files y"},
        {L"nothing exists", L"C:\\Gone Away\\setup /remove", {}, kRefused},
        {L"found prefix without blank: left alone",
         L"C:\\Windows\\system32\\msiexec /x{1}",
         {L"C:\\Windows\\system32\\msiexec.exe"},
         L"C:\\Windows\\system32\\msiexec /x{1}"},
        {L"bare program with plain arguments",
         L"rundll32 shell32.dll,Control_RunDLL x",
         {},
         L"rundll32 shell32.dll,Control_RunDLL x"},
        {L"empty", L"", {}, L""},
        {L"only blanks", L"   ", {}, L"   "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuoteProgramPath(c.command, FilesOnDisk(c.files)).value_or(kRefused), c.expected)
            << testing::PrintToString(std::wstring(c.name));
    }
}

TEST(QuoteProgramPath, QuotedCommandsAskNothingOfTheDisk) {
    std::vector<std::wstring> asked;
    (void)QuoteProgramPath(L"\"C:\\A B\\x.exe\" /q", FilesOnDisk({}, &asked));
    EXPECT_TRUE(asked.empty());
}

TEST(QuoteProgramPath, CandidatesAreTriedLongestFirstAndNeverHoldQuotes) {
    std::vector<std::wstring> asked;
    (void)QuoteProgramPath(L"C:\\A B\\C D\\setup E /p=\"x y\" /q", FilesOnDisk({}, &asked));
    const std::vector<std::wstring> expected = {
        L"C:\\A B\\C D\\setup E.exe",  // up to the first argument
        L"C:\\A B\\C D\\setup.exe",    // never a prefix shorter than the evident path
    };
    EXPECT_EQ(asked, expected);
}

TEST(PrepareCommandLine, RedirectionLengthAndQuoting) {
    const auto none = FilesOnDisk({});
    struct Case {
        std::wstring command;
        bool redirect;
        std::wstring system;
        std::wstring wow64;
        CommandVerdict verdict;
        std::wstring launched;
    };
    const std::wstring sys = L"C:\\Windows\\system32";
    const std::wstring wow = L"C:\\Windows\\SysWOW64";
    // Exactly 511 characters before the redirection.
    const std::wstring head = L"C:\\Windows\\system32\\x.exe /q ";
    const std::wstring full = head + std::wstring(511 - head.size(), L'a');
    const Case cases[] = {
        {L"C:\\WINDOWS\\System32\\msiexec.exe /x{1} C:\\windows\\SYSTEM32\\a", true, sys, wow,
         CommandVerdict::Launch,
         L"C:\\Windows\\SysWOW64\\msiexec.exe /x{1} C:\\Windows\\SysWOW64\\a"},
        {L"C:\\WINDOWS\\System32\\msiexec.exe /x{1}", false, sys, wow, CommandVerdict::Launch,
         L"C:\\WINDOWS\\System32\\msiexec.exe /x{1}"},
        // An empty system directory cannot be replaced: the empty result is
        // launched and fails.
        {L"C:\\x.exe", true, L"", wow, CommandVerdict::Launch, L""},
        {std::wstring(511, L'x'), false, sys, wow, CommandVerdict::Launch, std::wstring(511, L'x')},
        {std::wstring(512, L'x'), false, sys, wow, CommandVerdict::TooLong, L""},
        {std::wstring(512, L'x'), true, sys, wow, CommandVerdict::TooLong, L""},
        // Fits before the redirection, not after it (one character longer).
        {full, true, sys, L"C:\\Windows\\SysWOW640", CommandVerdict::TooLong, L""},
        {full, true, sys, wow, CommandVerdict::Launch,
         L"C:\\Windows\\SysWOW64" + full.substr(sys.size())},
        {L"C:\\Program Files\\A\\u.exe /S", true, sys, wow, CommandVerdict::Unresolved, L""},
    };
    for (const auto& c : cases) {
        const auto prepared = PrepareCommandLine(c.command, c.redirect, c.system, c.wow64, none);
        EXPECT_EQ(prepared.verdict, c.verdict) << c.command.size();
        if (prepared.verdict == CommandVerdict::Launch) {
            EXPECT_EQ(prepared.commandLine, c.launched);
        }
    }
    const auto uninstaller = FilesOnDisk({L"C:\\Program Files\\A\\u.exe"});
    EXPECT_EQ(PrepareCommandLine(L"C:\\Program Files\\A\\u.exe /S", false, sys, wow, uninstaller)
                  .commandLine,
              L"\"C:\\Program Files\\A\\u.exe\" /S");
    // Exactly 511 characters until the quotes make it 513.
    const std::wstring quotedHead = L"C:\\Program Files\\A\\u.exe /S ";
    const std::wstring edge = quotedHead + std::wstring(511 - quotedHead.size(), L'a');
    EXPECT_EQ(PrepareCommandLine(edge, false, sys, wow, uninstaller).verdict,
              CommandVerdict::TooLong);
    // The refusal line names the command, its line ends made visible.
    EXPECT_EQ(ProgramNotFoundMessage(L"C:\\A B\\u\r\nX"),
              std::wstring(kLogProgramNotFound) + L"C:\\A B\\u<0D><0A>X\r\n");
}

TEST(CommandTooLongMessage, IsBoundedAndNamesTheCommandStart) {
    const std::wstring command = L"C:\\Tools\\x.exe " + std::wstring(5000, L'z');
    const std::wstring message = CommandTooLongMessage(command);
    EXPECT_EQ(message, std::wstring(kLogCommandTooLong) + command.substr(0, kRefusedCommandShown) +
                           L"...\r\n");
    EXPECT_LT(message.size(), 200u);
}

TEST(FormatExitCode, SignedDecimal) {
    const std::pair<std::uint32_t, std::wstring> cases[] = {
        {0, L"0"},
        {3010, L"3010"},
        {0xC0000005u, L"-1073741819"},
        {0xFFFFFFFFu, L"-1"},
        {0x7FFFFFFFu, L"2147483647"},
        {0x80000000u, L"-2147483648"},
        {259, L"259"},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(FormatExitCode(code), text);
}

}  // namespace
}  // namespace clearon
