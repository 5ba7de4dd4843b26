// The start-up decisions that need no Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/architecture.h"
#include "platform/disk_space.h"
#include "startup/startup_rules.h"

namespace clearon {
namespace {

TEST(ExeDirectoryFromModulePath, CutsAtTheLastBackslash) {
    const struct {
        const wchar_t* modulePath;
        const wchar_t* directory;
    } cases[] = {
        {L"C:\\Tools\\Clearon.exe", L"C:\\Tools"},
        {L"C:\\Clearon.exe", L"C:"},
        {L"\\\\server\\share\\deploy\\Clearon.exe", L"\\\\server\\share\\deploy"},
        {L"C:\\a\\b\\c\\", L"C:\\a\\b\\c"},
        {L"Clearon.exe", L""},
        {L"", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExeDirectoryFromModulePath(c.modulePath), c.directory) << c.modulePath;
    }
}

TEST(ExeDirectoryFromModulePath, KeepsAPathLongerThanTheFieldWhole) {
    // A path past 255 characters whose only backslashes lie beyond that mark
    // must not be cut back to some shorter folder.
    const std::wstring deep = L"\\\\?\\C:\\" + std::wstring(300, L'd') + L"\\sub";
    EXPECT_EQ(ExeDirectoryFromModulePath(deep + L"\\Clearon.exe"), deep);
}

TEST(AsDirectoryPath, GivesABareDriveItsRoot) {
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"C:", L"C:\\"}, {L"d:", L"d:\\"}, {L"C:\\", L"C:\\"}, {L"C:\\Tools", L"C:\\Tools"},
        {L"", L""},       {L"C", L"C"},
    };
    for (const auto& c : cases) EXPECT_EQ(AsDirectoryPath(c.in), c.out) << c.in;
}

TEST(IsAmd64Architecture, FindsAmd64InEitherVariableInAnyCase) {
    const struct {
        const wchar_t* architecture;
        const wchar_t* wow6432;
        bool expected;
    } cases[] = {
        {L"AMD64", L"", true},   {L"x86", L"AMD64", true}, {L"amd64", L"", true},
        {L"xAmD64y", L"", true}, {L"x86", L"", false},     {L"ARM64", L"", false},
        {L"IA64", L"", false},   {L"", L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsAmd64Architecture(c.architecture, c.wow6432), c.expected)
            << c.architecture << " / " << c.wow6432;
    }
}

TEST(ExitCodeOfRun, AnyProductLeftMeansOne) {
    const struct {
        std::int32_t failureCount;
        int startResult;
        int expected;
    } cases[] = {
        {0, 0, 0}, {0, 155, 155}, {1, 0, 1}, {3, 155, 1}, {-1, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExitCodeOfRun(c.failureCount, c.startResult), c.expected)
            << c.failureCount << " " << c.startResult;
    }
}

TEST(HasEnoughFreeSpace, FiveHundredMebibytesIsTheLine) {
    const struct {
        std::uint64_t freeBytes;
        bool enough;
    } cases[] = {
        {0, false},          {524'287'999, false}, {524'288'000, true},
        {524'288'001, true}, {UINT64_MAX, true},
    };
    for (const auto& c : cases) EXPECT_EQ(HasEnoughFreeSpace(c.freeBytes), c.enough) << c.freeBytes;
}

TEST(JudgeFreeSpace, AFailedQueryIsNeverReportedAsAFullDisk) {
    EXPECT_EQ(JudgeFreeSpace(std::nullopt), FreeSpaceVerdict::Unknown);
    EXPECT_EQ(JudgeFreeSpace(0), FreeSpaceVerdict::TooLittle);
    EXPECT_EQ(JudgeFreeSpace(524'287'999), FreeSpaceVerdict::TooLittle);
    EXPECT_EQ(JudgeFreeSpace(524'288'000), FreeSpaceVerdict::Enough);
}

TEST(RefusedSettingLogLine, NamesTheKeyAsOneLogEntry) {
    const std::wstring line = RefusedSettingLogLine(L"MSIExtraParameters");
    EXPECT_EQ(line.front(), L' ');
    EXPECT_NE(line.find(L"MSIExtraParameters"), std::wstring::npos);
    EXPECT_TRUE(line.ends_with(L"\r\n"));
}

// A person at the screen sees what the settings ask for; where nobody can,
// only a run that needs nobody goes ahead.
TEST(DecideStartMode, NobodyAtTheScreenNeverGetsADialogToWaitOn) {
    const struct {
        bool showGui, autoRun, personCanSee;
        StartMode mode;
        MessageSink sink;
    } cases[] = {
        {false, false, true, StartMode::Silent, MessageSink::StandardOutput},
        {false, true, false, StartMode::Silent, MessageSink::StandardOutput},
        {true, false, true, StartMode::Dialog, MessageSink::Box},
        {true, true, true, StartMode::Dialog, MessageSink::Box},
        {true, true, false, StartMode::SilentNobodySees, MessageSink::StandardOutput},
        {true, false, false, StartMode::NeedsPerson, MessageSink::LogOnly},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const StartMode mode = DecideStartMode(c.showGui, c.autoRun, c.personCanSee);
        EXPECT_EQ(mode, c.mode);
        // Messages follow the mode the start ends up in.
        EXPECT_EQ(MessageSinkFor(mode != StartMode::Dialog && mode != StartMode::NeedsPerson,
                                 c.personCanSee),
                  c.sink);
    }
}

TEST(RefusedSettingLogLine, ATimeLimitIsRefusedForItsValue) {
    const std::wstring line = RefusedSettingLogLine(L"ProgramTimeLimit");
    EXPECT_NE(line.find(L"not a number of minutes from 0 to 99999"), std::wstring::npos);
    EXPECT_TRUE(line.ends_with(L"\r\n"));
}

}  // namespace
}  // namespace clearon
