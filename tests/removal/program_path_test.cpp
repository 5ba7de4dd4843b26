#include "removal/program_path.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "log/log_texts.h"
#include "support/host/memory_security.h"

namespace clearon {
namespace {

using test::AdminsAnd;
using test::MemorySecurity;

const ProgramFolders kFolders{
    L"C:\\Deploy", L"C:\\Windows\\system32", L"C:\\Windows\\SysWOW64", L"C:\\Windows",
    L"C:\\Users\\Public\\bin;C:\\Windows\\system32;\"C:\\Windows\\System32\\Wbem\";"
    L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\;relative;C:\\Windows\\..\\Temp;"
    L"C:\\WindowsApps;C:\\Program Files\\Tool"};

TEST(ProgramSearchFolders, ClearonsFolderThenTheSystemFoldersOnly) {
    EXPECT_EQ(ProgramSearchFolders(kFolders, false),
              (std::vector<std::wstring>{L"C:\\Deploy", L"C:\\Windows\\system32", L"C:\\Windows",
                                         L"C:\\Windows\\System32\\Wbem",
                                         L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0"}));
    EXPECT_EQ(ProgramSearchFolders(kFolders, true),
              (std::vector<std::wstring>{L"C:\\Deploy", L"C:\\Windows\\SysWOW64", L"C:\\Windows",
                                         L"C:\\Windows\\SysWOW64\\Wbem",
                                         L"C:\\Windows\\SysWOW64\\WindowsPowerShell\\v1.0"}));
}

TEST(FullProgramPath, TakesRelativePathsFromTheCurrentFolder) {
    const struct {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"tools\\x.exe", L"C:\\Deploy\\tools\\x.exe"},
        {L"..\\x.exe", L"C:\\x.exe"},
        {L"\\x.exe", L"C:\\x.exe"},
        {L"C:\\a\\.\\b\\..\\c.exe", L"C:\\a\\c.exe"},
        {L"C:\\..\\..\\c.exe", L"C:\\c.exe"},
        {L"\\\\srv\\share\\..\\x.exe", L"\\\\srv\\share\\x.exe"},
    };
    for (const auto& c : cases) EXPECT_EQ(FullProgramPath(c.path, L"C:\\Deploy"), c.expected);
}

TEST(CheckLaunch, ResolvesBareNamesAndRefusesWhatOthersCanChange) {
    const std::wstring longFolder = L"C:\\" + std::wstring(500, L'd');
    const struct {
        const char* name;
        std::wstring command;
        std::vector<std::wstring> files;
        std::wstring writable;  // an object Users may change ("" none)
        bool check = true;      // AllowUserWritablePrograms=N
        CommandVerdict verdict;
        std::wstring launched;  // the command, or the reason of UserWritable
        std::wstring exeDirectory = L"C:\\Deploy";
    } cases[] = {
        {"beside Clearon first",
         L"setup.exe /q",
         {L"C:\\Deploy\\setup.exe", L"C:\\Windows\\system32\\setup.exe"},
         L"",
         true,
         CommandVerdict::Launch,
         L"C:\\Deploy\\setup.exe /q"},
        {"MsiExec in System32",
         L"MsiExec.exe /X{A} /qn",
         {L"C:\\Windows\\system32\\MsiExec.exe"},
         L"",
         true,
         CommandVerdict::Launch,
         L"C:\\Windows\\system32\\MsiExec.exe /X{A} /qn"},
        {"no extension: .exe",
         L"reg add HKLM\\X",
         {L"C:\\Windows\\system32\\reg.exe"},
         L"",
         true,
         CommandVerdict::Launch,
         L"C:\\Windows\\system32\\reg.exe add HKLM\\X"},
        {"a PATH folder below Windows",
         L"\"wmic.exe\" os get",
         {L"C:\\Windows\\System32\\Wbem\\wmic.exe"},
         L"",
         true,
         CommandVerdict::Launch,
         L"\"C:\\Windows\\System32\\Wbem\\wmic.exe\" os get"},
        {"only on a PATH folder users own",
         L"setup.exe",
         {L"C:\\Users\\Public\\bin\\setup.exe"},
         L"",
         true,
         CommandVerdict::NotInSafeFolders,
         L"setup.exe"},
        {"a blank in Clearon's folder is quoted",
         L"setup.exe /q",
         {L"C:\\My Deploy\\setup.exe"},
         L"",
         true,
         CommandVerdict::Launch,
         L"\"C:\\My Deploy\\setup.exe\" /q",
         L"C:\\My Deploy"},
        {"the full path outgrows the command line",
         L"setup.exe",
         {longFolder + L"\\setup.exe"},
         L"",
         true,
         CommandVerdict::TooLong,
         L"",
         longFolder},
        {"a writable program",
         L"C:\\Pkg\\u.exe /S",
         {L"C:\\Pkg\\u.exe"},
         L"C:\\Pkg\\u.exe",
         true,
         CommandVerdict::UserWritable,
         L"S-1-5-32-545 may write C:\\Pkg\\u.exe"},
        {"a writable folder",
         L"\"C:\\Pkg\\u.exe\" /S",
         {L"C:\\Pkg\\u.exe"},
         L"C:\\Pkg",
         true,
         CommandVerdict::UserWritable,
         L"S-1-5-32-545 may add files to C:\\Pkg"},
        {"a relative path from the current folder",
         L"tools\\u /S",
         {L"C:\\Deploy\\tools\\u.exe"},
         L"C:\\Deploy\\tools\\u.exe",
         true,
         CommandVerdict::UserWritable,
         L"S-1-5-32-545 may write C:\\Deploy\\tools\\u.exe"},
        {"switched off",
         L"C:\\Pkg\\u.exe /S",
         {L"C:\\Pkg\\u.exe"},
         L"C:\\Pkg\\u.exe",
         false,
         CommandVerdict::Launch,
         L"C:\\Pkg\\u.exe /S"},
        {"a missing program in a writable folder",
         L"C:\\Pkg\\gone.exe",
         {},
         L"C:\\Pkg",
         true,
         CommandVerdict::UserWritable,
         L"S-1-5-32-545 may add files to C:\\Pkg"},
        {"a missing program elsewhere fails to start",
         L"C:\\no\\such.exe",
         {},
         L"",
         true,
         CommandVerdict::Launch,
         L"C:\\no\\such.exe"},
    };
    for (const auto& c : cases) {
        MemorySecurity reader;
        if (!c.writable.empty()) {
            reader.Set(c.writable, AdminsAnd({true, L"S-1-5-32-545", kFileAllAccess, 0}));
        }
        // C:\no does not exist: it reads as nothing.
        reader.unreadable.insert(MemorySecurity::Folded(L"C:\\no"));
        ProgramFolders folders = kFolders;
        folders.exeDirectory = c.exeDirectory;
        const LaunchChecks checks{folders, L"C:\\Deploy", c.check ? &reader : nullptr, {}};
        const std::set<std::wstring> files(c.files.begin(), c.files.end());
        const PreparedCommand prepared = CheckLaunch(
            {CommandVerdict::Launch, c.command, {}, {}}, false, checks,
            [&](std::wstring_view path) { return files.count(std::wstring(path)) > 0; });
        EXPECT_EQ(prepared.verdict, c.verdict) << c.name;
        if (c.verdict == CommandVerdict::UserWritable) {
            EXPECT_EQ(prepared.reason, c.launched) << c.name;
            EXPECT_EQ(LaunchRefusalMessage(prepared),
                      std::wstring(kLogProgramUserWritable) + c.launched +
                          std::wstring(kLogProgramUserWritableEnd) + c.command + L"\r\n");
        } else if (c.verdict != CommandVerdict::TooLong) {
            EXPECT_EQ(prepared.commandLine, c.launched) << c.name;
        }
    }
}

}  // namespace
}  // namespace clearon
