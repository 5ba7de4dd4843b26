#include "removal/program_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resume/pending_renames.h"
#include "support/host/fake_removal_host.h"

namespace clearon {
namespace {

using test::FakeRemovalHost;

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

struct ProgramListFixture : ::testing::Test {
    FakeRemovalHost host;
    RemovalState state;
    Settings settings;
    std::wstring config;

    std::vector<std::wstring> Run(std::wstring_view listName, std::wstring_view arguments = L"") {
        RemovalContext context{host, state, settings, config, true};
        RunProgramList(context, listName, arguments);
        return host.LaunchedCommands();
    }
};

TEST(ProgramCommand, TextAfterTheFirstEqualsSignWithoutLeadingBlanks) {
    const struct {
        std::wstring line;
        std::wstring command;
    } cases[] = {
        {L"RunBeforeRemoval=   prep.exe  /a  /b ", L"prep.exe  /a  /b "},
        {L"RunBeforeRemoval=x.exe A=B", L"x.exe A=B"},
        {L"RunBeforeRemoval=", L""},
        {L"RunBeforeRemoval=    ", L""},
        {L"RunBeforeRemoval", L""},
        {L"RunBeforeRemoval=\tx.exe", L"\tx.exe"},  // only blanks are skipped
    };
    for (const auto& c : cases) EXPECT_EQ(ProgramCommand(c.line), c.command);
}

TEST(IsAegiraInstaller, OnlyAfterRemovalAndOnlyWithoutAFolder) {
    EXPECT_TRUE(IsAegiraInstaller(L"RunAfterRemoval", L"setup.exe /quiet"));
    EXPECT_TRUE(IsAegiraInstaller(L"RunAfterRemoval", L"AegiraSETUP.exe"));
    EXPECT_FALSE(IsAegiraInstaller(L"RunAfterRemoval", L"C:\\Kits\\setup.exe /quiet"));
    EXPECT_FALSE(IsAegiraInstaller(L"RunBeforeRemoval", L"setup.exe /quiet"));
    EXPECT_FALSE(IsAegiraInstaller(L"RunAfterRemoval", L"install.exe"));
}

TEST_F(ProgramListFixture, ProgramLinesOfSettingsRunInFileOrder) {
    config =
        L"[Settings]\r\n"
        L"RunBeforeRemoval=   first.exe  /a\r\n"
        L";RunBeforeRemoval=commented.exe\r\n"
        L"RunBeforeRemoval=\r\n"
        L"RunBeforeRemoval2=second.exe\r\n"
        L"RunAfterRemoval=after.exe\r\n"
        L" RunBeforeRemoval=third.exe\r\n"
        L"Note=see [x]\r\n"
        L"RunBeforeRemoval=ignored.exe\r\n"
        L"[ProductNames]\r\n"
        L"RunBeforeRemoval=not-settings.exe\r\n"
        L"[settings]\r\n"
        L"RunBeforeRemoval=last.exe";
    EXPECT_EQ(Run(L"RunBeforeRemoval"), (std::vector<std::wstring>{L"first.exe  /a", L"second.exe",
                                                                   L"third.exe", L"last.exe"}));
    EXPECT_FALSE(state.installerLaunched);
    EXPECT_TRUE(host.statuses.empty());
}

TEST_F(ProgramListFixture, InstallerGetsTheToolsArgumentsAndItsStatusTexts) {
    config =
        L"[Settings]\r\nRunAfterRemoval=setup.exe /quiet\r\nRunAfterRemoval=C:\\Kits\\setup.exe "
        L"/x\r\n"
        L"[ProductNames]\r\n";
    EXPECT_EQ(
        Run(L"RunAfterRemoval", L"/s TOKEN=1"),
        (std::vector<std::wstring>{L"setup.exe /quiet /s TOKEN=1", L"C:\\Kits\\setup.exe /x"}));
    EXPECT_TRUE(state.installerLaunched);
    EXPECT_EQ(host.statuses, (std::vector<std::wstring>{L"Installing Aegira . . .",
                                                        L"Running programs after removal . . ."}));
}

TEST_F(ProgramListFixture, InstallerWithoutArgumentsRunsExactlyAsConfigured) {
    config = L"[Settings]\r\nRunAfterRemoval=setup.exe\r\n[ProductNames]\r\n";
    host.exitCodes = {1641};
    EXPECT_EQ(Run(L"RunAfterRemoval"), std::vector<std::wstring>{L"setup.exe"});
    EXPECT_TRUE(state.installerLaunched);
    // What the run's outcome is decided by.
    EXPECT_EQ(state.installer, InstallerFact::Exited);
    EXPECT_EQ(state.installerExitCode, 1641u);
}

TEST_F(ProgramListFixture, AnInstallerThatNeverStartedWantsNoResume) {
    // A missing or unstartable setup.exe must not register RunOnce: every
    // later run would register it again.
    config = L"[Settings]\r\nRunAfterRemoval=setup.exe\r\n[ProductNames]\r\n";
    host.failsToStart = {L"setup.exe"};
    EXPECT_TRUE(Run(L"RunAfterRemoval").empty());
    EXPECT_FALSE(state.installerLaunched);
    EXPECT_EQ(state.installer, InstallerFact::NotStarted);
}

TEST_F(ProgramListFixture, BeforeListSetupIsAnOrdinaryProgram) {
    config = L"[Settings]\r\nRunBeforeRemoval=setup.exe\r\n[ProductNames]\r\n";
    EXPECT_EQ(Run(L"RunBeforeRemoval", L"/q"), std::vector<std::wstring>{L"setup.exe"});
    EXPECT_FALSE(state.installerLaunched);
}

TEST_F(ProgramListFixture, PendingRenamesAreSetAsideBeforeEachProgramOnly) {
    const std::wstring list(L"\\??\\C:\\a\0\0", 10);
    host.memory.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue, list);
    // What the registry looks like while each program runs.
    std::vector<bool> systemListPresent;
    host.behaviours.emplace_back(L".exe", [&](FakeRemovalHost& h) {
        systemListPresent.push_back(
            h.memory.Get(kMachine, kSessionManagerKey, kPendingRenamesValue).has_value());
    });

    config = L"[Settings]\r\nRunBeforeRemoval=\r\n[ProductNames]\r\n";
    Run(L"RunBeforeRemoval");
    EXPECT_EQ(host.memory.writes, 0) << "an empty command must not touch the pending renames";

    config = L"[Settings]\r\nRunBeforeRemoval=one.exe\r\n[ProductNames]\r\n";
    Run(L"RunBeforeRemoval");
    EXPECT_EQ(systemListPresent, std::vector<bool>{false});
    // Set aside as Windows reads it: its pair and the closing NUL.
    EXPECT_EQ(host.memory.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesAsideValue),
              list + L'\0');
}

TEST_F(ProgramListFixture, OverlongLinesAndCommandsAreRefusedNotCut) {
    const std::wstring longCommand(220, L'x');  // the line itself fits
    config = L"[Settings]\r\nRunBeforeRemoval=" + std::wstring(250, L'y') +
             L"\r\nRunAfterRemoval=setup" + longCommand + L"\r\n[ProductNames]\r\n";
    EXPECT_TRUE(Run(L"RunBeforeRemoval").empty());
    EXPECT_EQ(host.log, L"TS Skipping a program line longer than 254 characters.\r\n");
    host.log.clear();

    EXPECT_TRUE(Run(L"RunAfterRemoval", std::wstring(40, L'a')).empty());
    EXPECT_FALSE(state.installerLaunched);
    EXPECT_NE(host.log.find(L"Not running Aegira's installer"), std::wstring::npos);
    // The same installer without arguments fits and runs.
    EXPECT_EQ(Run(L"RunAfterRemoval").size(), 1u);
}

}  // namespace
}  // namespace clearon
