// The start-up decisions that need no Windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "log/log_texts.h"
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

TEST(RefusedSettingLogLine, ATimeLimitIsRefusedForItsValue) {
    for (const wchar_t* key : {L"ProgramTimeLimit", L"OtherRunTimeLimit"}) {
        const std::wstring line = RefusedSettingLogLine(key);
        EXPECT_NE(line.find(L"not a number of minutes from 0 to 99999"), std::wstring::npos);
        EXPECT_TRUE(line.ends_with(L"\r\n"));
    }
    EXPECT_NE(RefusedSettingLogLine(L"OtherRunTimeLimit").find(L"at most 15 minutes"),
              std::wstring::npos);
}

// Session 0 and a window station that cannot say are nobody's screen; the
// session is asked first, since session 0's station calls itself visible.
TEST(DecideVisibility, SessionZeroAndAFailedQueryMeanNobodySees) {
    const struct {
        std::optional<std::uint32_t> session;
        std::optional<bool> stationVisible;
        Visibility visibility;
        std::wstring_view line;
    } cases[] = {
        {1u, true, Visibility::Seen, L""},
        {std::nullopt, true, Visibility::Seen, L""},
        {2u, false, Visibility::StationNotVisible, L""},
        {0u, true, Visibility::SessionZero, kLogSessionZero},
        {0u, std::nullopt, Visibility::SessionZero, kLogSessionZero},
        {1u, std::nullopt, Visibility::QueryFailed, kLogVisibilityUnknown},
        {std::nullopt, std::nullopt, Visibility::QueryFailed, kLogVisibilityUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        EXPECT_EQ(DecideVisibility(c.session, c.stationVisible), c.visibility);
        EXPECT_EQ(VisibilityLogLine(c.visibility), c.line);
    }
}

// Under Wine every object belongs to the one user, so only here can a
// squatter's name be told from another run's.
TEST(IsRunNameOwnerTrusted, OnlySystemAndTheAdministrators) {
    const struct {
        const wchar_t* sid;
        bool trusted;
    } cases[] = {
        {L"S-1-5-18", true},
        {L"S-1-5-32-544", true},
        {L"S-1-5-21-1004336348-1177238915-682003330-1001", false},
        {L"S-1-5-11", false},
        {L"S-1-5-32-545", false},
        {L"S-1-5-18-1", false},
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsRunNameOwnerTrusted(c.sid), c.trusted) << c.sid;
}

}  // namespace
}  // namespace clearon
