// UninstallProduct: asking once per display name, remembering the answer,
// logging, status texts, the notice, the McAfee Agent follow-up and the
// refusal of commands that do not fit a command line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "removal/uninstall_product.h"
#include "support/host/fake_removal_host.h"

namespace clearon {
namespace {

using test::FakeRemovalHost;

class UninstallProductTest : public ::testing::Test {
protected:
    FakeRemovalHost host;
    RemovalState state;
    Settings settings;
    RemovalContext context{host, state, settings, L"", false};

    int Uninstall(std::wstring_view name, std::wstring_view command) {
        return UninstallProduct(context, name, command);
    }
};

TEST_F(UninstallProductTest, AsksOncePerDisplayNameWhateverItsCase) {
    host.answers = {QuestionAnswer::Yes};
    EXPECT_EQ(Uninstall(L"Acme AV", L"C:\\a\\remove.exe"), kUninstallRan);
    EXPECT_EQ(Uninstall(L"ACME av", L"C:\\b\\remove.exe"), kUninstallRan);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.questions[0],
              L"Acme AV may not be compatible with Aegira.  It is recommended to remove this "
              L"product.  Are you sure you want to remove Acme AV?");
    EXPECT_EQ(host.LaunchedCommands(),
              (std::vector<std::wstring>{L"C:\\a\\remove.exe", L"C:\\b\\remove.exe"}));
    EXPECT_EQ(state.confirmedList, NameList{L"|Acme AV|"});
    EXPECT_EQ(host.log, L"TS Removing: Acme AV\r\nTS Removing: ACME av\r\n");
    EXPECT_EQ(host.statuses,
              (std::vector<std::wstring>{L"Uninstalling Acme AV . . .", L"Searching . . .",
                                         L"Uninstalling ACME av . . .", L"Searching . . ."}));
}

TEST_F(UninstallProductTest, ANoSkipsTheNameSilentlyForTheRestOfTheRun) {
    host.answers = {QuestionAnswer::No};
    EXPECT_EQ(Uninstall(L"Acme AV", L"MsiExec.exe /I{A}"), kUninstallSkipped);
    EXPECT_EQ(Uninstall(L"acme av", L"MsiExec.exe /I{A}"), kUninstallSkipped);
    EXPECT_EQ(Uninstall(L"ACME AV", L"other.exe"), kUninstallSkipped);
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_TRUE(host.launches.empty());
    EXPECT_TRUE(host.statuses.empty());
    EXPECT_EQ(host.log, L"TS User chose not to remove: Acme AV\r\n");
    EXPECT_EQ(state.declinedList, NameList{L"|Acme AV|"});
    EXPECT_TRUE(state.confirmedList.empty());
    // A name that merely contains the declined one is its own product.
    host.answers.clear();
    EXPECT_EQ(Uninstall(L"Acme AV Pro", L"x.exe"), kUninstallRan);
    EXPECT_EQ(host.questions.size(), 2u);
}

TEST_F(UninstallProductTest, WithoutAskingNothingIsRememberedOrLoggedBeforeRemoving) {
    settings.AskBeforeRemoval = false;
    EXPECT_EQ(Uninstall(L"Acme AV", L"remove.exe"), kUninstallRan);
    EXPECT_EQ(Uninstall(L"Acme AV", L"remove.exe"), kUninstallRan);
    EXPECT_TRUE(host.questions.empty());
    EXPECT_TRUE(state.confirmedList.empty());
    EXPECT_TRUE(state.declinedList.empty());
    EXPECT_EQ(host.log, L"TS Removing: Acme AV\r\nTS Removing: Acme AV\r\n");
    EXPECT_EQ(host.launches.size(), 2u);
}

TEST_F(UninstallProductTest, ABoxWithoutAnswerRunsNothing) {
    host.answers = {QuestionAnswer::Failed};
    EXPECT_EQ(Uninstall(L"Acme AV", L"remove.exe"), kUninstallRan);
    EXPECT_TRUE(host.launches.empty());
    EXPECT_TRUE(host.statuses.empty());
    EXPECT_TRUE(host.log.empty());
    EXPECT_TRUE(state.confirmedList.empty());
    EXPECT_TRUE(state.declinedList.empty());
    // Nothing was remembered, so the next meeting asks again.
    EXPECT_EQ(Uninstall(L"Acme AV", L"remove.exe"), kUninstallRan);
    EXPECT_EQ(host.questions.size(), 2u);
    EXPECT_EQ(host.launches.size(), 1u);
}

TEST_F(UninstallProductTest, TheNoticeIsShownForCaETrustOnly) {
    settings.AskBeforeRemoval = false;
    const struct {
        const wchar_t* name;
        bool notice;
    } cases[] = {{L"CA eTrust Antivirus", true},
                 {L"Old ca ETRUST suite", true},
                 {L"CA Antivirus", false},
                 {L"eTrust", false}};
    for (const auto& c : cases) {
        host.launches.clear();
        static_cast<void>(Uninstall(c.name, L"remove.exe"));
        ASSERT_EQ(host.launches.size(), 1u);
        EXPECT_EQ(host.launches[0].showNotice, c.notice) << static_cast<int>(c.notice);
    }
}

TEST_F(UninstallProductTest, McAfeeAgentRunsFrminstFromItsFolderWhenPresent) {
    settings.AskBeforeRemoval = false;
    state.agentLocation = L"C:\\Program Files\\McAfee\\Agent\\";
    const struct {
        bool present;
        bool silent;
        std::vector<std::wstring> expected;
    } cases[] = {
        {true,
         true,
         {L"MsiExec.exe /X{A} REMOVE=ALL REBOOT=R /qn",
          L"\"C:\\Program Files\\McAfee\\Agent\\frminst.exe\" /forceuninstall /silent"}},
        {true,
         false,
         {L"MsiExec.exe /X{A} REMOVE=ALL REBOOT=R",
          L"\"C:\\Program Files\\McAfee\\Agent\\frminst.exe\" /forceuninstall"}},
        {false, true, {L"MsiExec.exe /X{A} REMOVE=ALL REBOOT=R /qn"}},
    };
    for (const auto& c : cases) {
        host.launches.clear();
        host.files.clear();
        if (c.present) host.files.insert(L"C:\\Program Files\\McAfee\\Agent\\frminst.exe");
        settings.SilentMSIInstaller = c.silent;
        static_cast<void>(Uninstall(L"McAfee Agent", L"MsiExec.exe /I{A}"));
        EXPECT_EQ(host.LaunchedCommands(), c.expected);
        for (const auto& launch : host.launches) EXPECT_FALSE(launch.showNotice);
    }
    // The frminst step belongs to the agent only.
    host.launches.clear();
    host.files.insert(L"C:\\Program Files\\McAfee\\Agent\\frminst.exe");
    static_cast<void>(Uninstall(L"McAfee VirusScan", L"remove.exe"));
    EXPECT_EQ(host.launches.size(), 1u);
}

TEST_F(UninstallProductTest, ACommandLongerThanACommandLineIsRefusedNotCut) {
    settings.AskBeforeRemoval = true;
    settings.SilentMSIInstaller = true;
    // " REMOVE=ALL REBOOT=R /qn" adds 24 characters.
    const std::wstring stem = L"MsiExec.exe /I";
    const std::wstring fits = stem + std::wstring(511 - 24 - stem.size(), L'a');
    const std::wstring tooLong = fits + L"a";

    EXPECT_EQ(Uninstall(L"Fits AV", fits), kUninstallRan);
    ASSERT_EQ(host.launches.size(), 1u);
    EXPECT_EQ(host.launches[0].commandLine.size(), 511u);

    host.log.clear();
    EXPECT_EQ(Uninstall(L"Long AV", tooLong), kUninstallRan);
    EXPECT_EQ(host.launches.size(), 1u) << "nothing more was run";
    EXPECT_EQ(host.questions.size(), 1u) << "nobody is asked about what cannot run";
    EXPECT_EQ(host.log,
              L"TS Not removing Long AV: its uninstall command would be longer than 511 "
              L"characters.\r\n");
    EXPECT_EQ(host.statuses.size(), 2u) << "only the first product's statuses";

    // The extra parameters are what push it over.
    settings.AskBeforeRemoval = false;
    settings.DefaultExtraParameters = std::wstring(254, L'p');
    host.log.clear();
    EXPECT_EQ(Uninstall(L"Param AV", std::wstring(257, L'c')), kUninstallRan);
    EXPECT_EQ(host.launches.size(), 1u);
    EXPECT_NE(host.log.find(L" Not removing Param AV: "), std::wstring::npos);
    EXPECT_EQ(Uninstall(L"Param AV", std::wstring(256, L'c')), kUninstallRan);
    ASSERT_EQ(host.launches.size(), 2u);
    EXPECT_EQ(host.launches[1].commandLine.size(), 511u);
}

TEST_F(UninstallProductTest, ListsGrowPastTheirDataModelCapacity) {
    // Nothing is forgotten at 65,535 characters: the 300th declined name of
    // 250 characters is still declined, and still silently.
    settings.AskBeforeRemoval = true;
    host.defaultAnswer = QuestionAnswer::No;
    std::vector<std::wstring> names;
    for (int i = 0; i < 300; ++i) {
        names.push_back(std::to_wstring(i) + L"#" + std::wstring(246, L'n'));
        EXPECT_EQ(Uninstall(names.back(), L"remove.exe"), kUninstallSkipped);
    }
    ASSERT_EQ(state.declinedList.size(), 300u);
    const std::size_t logged = host.log.size();
    for (const auto& name : names) EXPECT_EQ(Uninstall(name, L"remove.exe"), kUninstallSkipped);
    EXPECT_EQ(host.questions.size(), 300u);
    EXPECT_EQ(host.log.size(), logged);
}

TEST_F(UninstallProductTest, ANameHoldingABarIsOneNameOnly) {
    // "|Zeta|Acme AV|" holds "|Acme AV|": declining the first product must
    // not silently skip the second, nor confirming one confirm the other.
    settings.AskBeforeRemoval = true;
    host.answers = {QuestionAnswer::No, QuestionAnswer::Yes, QuestionAnswer::Yes};
    EXPECT_EQ(Uninstall(L"Zeta|Acme AV", L"z.exe"), kUninstallSkipped);
    EXPECT_EQ(Uninstall(L"Acme AV", L"a.exe"), kUninstallRan);
    EXPECT_EQ(Uninstall(L"AV|Beta", L"b.exe"), kUninstallRan);
    EXPECT_EQ(Uninstall(L"Beta", L"c.exe"), kUninstallRan);
    EXPECT_EQ(host.questions.size(), 4u);
    EXPECT_EQ(host.LaunchedCommands(), (std::vector<std::wstring>{L"a.exe", L"b.exe", L"c.exe"}));
}

TEST_F(UninstallProductTest, MarkersOfLongNamesAreKeptWhole) {
    // Two 254-character names that differ only in their last character are
    // two products: a marker cut to 254 would make them one.
    host.answers = {QuestionAnswer::No, QuestionAnswer::Yes};
    const std::wstring first = std::wstring(253, L'n') + L"1";
    const std::wstring second = std::wstring(253, L'n') + L"2";
    EXPECT_EQ(Uninstall(first, L"remove.exe"), kUninstallSkipped);
    EXPECT_EQ(Uninstall(second, L"remove.exe"), kUninstallRan);
    EXPECT_EQ(host.launches.size(), 1u);
}

}  // namespace
// Windows Installer busy (1618): an MsiExec command is tried again after
// each pause until the pauses would pass the total; other kinds and other
// exit codes are run once.
TEST_F(UninstallProductTest, BusyWindowsInstallerIsTriedAgainForABoundedTotal) {
    using std::chrono::seconds;
    const struct {
        const wchar_t* command;
        std::vector<std::uint32_t> exitCodes;
        std::size_t launches;
        bool gaveUp;
    } cases[] = {
        {L"MsiExec.exe /X{A}", {1618, 1618, 0}, 3, false},
        {L"MsiExec.exe /X{A}", {1603}, 1, false},
        {L"MsiExec.exe /X{A}", {1618, 1618, 1618, 1618, 1618}, 4, true},  // 3 pauses fill 30 s
        {L"C:\a\remove.exe", {1618}, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        FakeRemovalHost fresh;
        fresh.exitCodes = c.exitCodes;
        RemovalState freshState;
        settings.AskBeforeRemoval = false;
        RemovalContext busy{fresh, freshState, settings, L"", false, {seconds(10), seconds(30)}};
        EXPECT_EQ(UninstallProduct(busy, L"Acme AV", c.command), kUninstallRan);
        EXPECT_EQ(fresh.launches.size(), c.launches);
        // A product that stays after the last try counts as busy by this code.
        EXPECT_EQ(freshState.lastUninstallerExitCode, c.exitCodes[c.launches - 1]);
        EXPECT_EQ(fresh.pauses,
                  std::vector<std::chrono::milliseconds>(c.launches - 1, seconds(10)));
        std::wstring expectedLog = L"TS Removing: Acme AV\r\n";
        for (std::size_t i = 1; i < c.launches; ++i) {
            expectedLog +=
                L"TS Windows Installer is busy with another installation (1618); "
                L"trying again in 10 seconds: Acme AV\r\n";
        }
        if (c.gaveUp) {
            expectedLog +=
                L"TS Windows Installer stayed busy (1618) for the whole retry time; "
                L"giving up: Acme AV\r\n";
        }
        EXPECT_EQ(fresh.log, expectedLog);
    }
}

}  // namespace clearon
