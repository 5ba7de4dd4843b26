// McAfee component removal: the installer search, the VirusScan commands,
// the ten components and their three candidates each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_texts.h"
#include "removal/mcafee_remover.h"
#include "support/host/fake_removal_host.h"

namespace clearon {
namespace {

using test::FakeRemovalHost;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
const std::wstring kInstaller = L"C:\\CPF\\McAfee\\Installer\\mcinst.exe";

std::wstring Command(const std::wstring& inf) {
    return L"\"" + kInstaller + L"\" \"" + inf + L"\" /uninstall";
}

class McAfeeRemoverTest : public ::testing::Test {
protected:
    FakeRemovalHost host;
    RemovalState state;
    Settings settings;
    RemovalContext context{host, state, settings, L"", true};

    void SetUp() override {
        settings.AskBeforeRemoval = false;
        host.environment[L"CommonProgramFiles"] = L"C:\\CPF";
        host.environment[L"CommonProgramFiles(x86)"] = L"C:\\CPF86";
        host.files.insert(kInstaller);
    }
};

TEST_F(McAfeeRemoverTest, WithoutMcinstNothingIsRun) {
    host.files.clear();
    host.files.insert(L"C:\\L\\MPF\\mpfLI.inf");
    host.memory.SetString(kMachine, kVirusScanKey64, kVirusScanUninstallValue, L"MsiExec /I{V}");
    RemoveMcAfeeComponents(context, L"McAfee Total Protection", L"C:\\L");
    EXPECT_TRUE(host.launches.empty());
    EXPECT_TRUE(host.log.empty());
    EXPECT_TRUE(host.questions.empty());
}

TEST_F(McAfeeRemoverTest, TheInstallerIsLookedForInBothCommonFilesFolders) {
    const struct {
        const wchar_t* present;  // which mcinst.exe exists
        bool x86Defined;
        const wchar_t* expectedInstaller;  // nullptr: none found
    } cases[] = {
        {L"C:\\CPF\\McAfee\\Installer\\mcinst.exe", true,
         L"C:\\CPF\\McAfee\\Installer\\mcinst.exe"},
        {L"C:\\CPF86\\McAfee\\Installer\\mcinst.exe", true,
         L"C:\\CPF86\\McAfee\\Installer\\mcinst.exe"},
        {L"C:\\CPF86\\McAfee\\Installer\\mcinst.exe", false, nullptr},
        // An undefined variable is no folder: a planted mcinst.exe at the
        // drive's root is never run.
        {L"\\McAfee\\Installer\\mcinst.exe", false, nullptr},
    };
    for (const auto& c : cases) {
        host.files = {c.present, L"C:\\L\\MPF\\mpfLI.inf"};
        if (!c.x86Defined) host.environment.erase(L"CommonProgramFiles(x86)");
        host.launches.clear();
        RemoveMcAfeeComponents(context, L"McAfee", L"C:\\L");
        if (c.expectedInstaller == nullptr) {
            EXPECT_TRUE(host.launches.empty());
        } else {
            EXPECT_EQ(host.LaunchedCommands(),
                      std::vector<std::wstring>{std::wstring(L"\"") + c.expectedInstaller +
                                                L"\" \"C:\\L\\MPF\\mpfLI.inf\" /uninstall"});
        }
    }
}

TEST_F(McAfeeRemoverTest, VirusScanCommandsOfMoreThanFourCharactersRun) {
    const struct {
        const wchar_t* value64;
        const wchar_t* value32;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"MsiExec.exe /I{V}",
         L"C:\\vs32\\remove.exe",
         {L"MsiExec.exe /X{V} REMOVE=ALL REBOOT=R /qn", L"C:\\vs32\\remove.exe"}},
        {L"abcd", L"abcde", {L"abcde"}},
        {L"", L"abcd", {}},
    };
    for (const auto& c : cases) {
        host.memory.SetString(kMachine, kVirusScanKey64, kVirusScanUninstallValue, c.value64);
        host.memory.SetString(kMachine, kVirusScanKey32, kVirusScanUninstallValue, c.value32);
        host.launches.clear();
        RemoveMcAfeeComponents(context, L"McAfee", L"");
        EXPECT_EQ(host.LaunchedCommands(), c.expected);
    }
}

TEST_F(McAfeeRemoverTest, TenComponentsThreeCandidatesEachInOrder) {
    const wchar_t* keys[] = {L"MPF", L"MSK", L"MPS", L"MQS",         L"MHS",
                             L"MHN", L"MSM", L"MWL", L"SiteAdvisor", L"MSC"};
    const wchar_t* belowLocation[] = {L"\\MPF\\mpfLI.inf",           L"\\MSK\\mskli.inf",
                                      L"\\MPS\\mpsli.inf",           L"\\MQS\\mcpLi.inf",
                                      L"\\MHS\\mhsli.inf",           L"\\MHN\\mhnli.inf",
                                      L"\\MSM\\msmli.inf",           L"\\MWL\\mwlli.inf",
                                      L"\\SiteAdvisor\\sa_main.inf", L"\\MSC\\mscli.inf"};
    const wchar_t* belowDir[] = {L"\\mpfLI.inf",   L"\\mskli.inf", L"\\mpsli.inf", L"\\mcpLi.inf",
                                 L"\\mhsli.inf",   L"\\mhnli.inf", L"\\msmli.inf", L"\\mwlli.inf",
                                 L"\\sa_main.inf", L"\\mscli.inf"};
    std::vector<std::wstring> expected;
    for (int i = 0; i < 10; ++i) {
        const std::wstring key = keys[i];
        host.memory.SetString(kMachine, L"SOFTWARE\\McAfee\\" + key, L"Install Dir",
                              L"C:\\K64\\" + key);
        host.memory.SetString(kMachine, L"SOFTWARE\\Wow6432Node\\McAfee\\" + key, L"Install Dir",
                              L"C:\\K32\\" + key);
        const std::wstring candidates[] = {L"C:\\L" + std::wstring(belowLocation[i]),
                                           L"C:\\K64\\" + key + belowDir[i],
                                           L"C:\\K32\\" + key + belowDir[i]};
        for (const auto& candidate : candidates) {
            host.files.insert(candidate);
            expected.push_back(Command(candidate));
        }
    }
    settings.DefaultExtraParameters = L"/quiet";
    for (auto& command : expected) command += L" /quiet";
    RemoveMcAfeeComponents(context, L"McAfee Total Protection", L"C:\\L");
    EXPECT_EQ(host.LaunchedCommands(), expected);
    EXPECT_EQ(host.statuses.front(), L"Uninstalling McAfee Total Protection . . .");
}

TEST_F(McAfeeRemoverTest, EmptyLocationAndMissingInstallDirAreSkippedWithOneLine) {
    // No location and no "Install Dir": the candidates would be bare paths at
    // the root of the current drive, where users may create folders.
    host.files.insert(L"\\MPF\\mpfLI.inf");
    host.files.insert(L"\\mskli.inf");
    host.memory.SetString(kMachine, L"SOFTWARE\\Wow6432Node\\McAfee\\MSC", L"Install Dir",
                          L"D:\\msc");
    host.files.insert(L"D:\\msc\\mscli.inf");
    RemoveMcAfeeComponents(context, L"McAfee", L"");
    EXPECT_EQ(host.LaunchedCommands(), std::vector<std::wstring>{Command(L"D:\\msc\\mscli.inf")});
    EXPECT_EQ(host.log, L"TS" + std::wstring(kLogMcAfeeEmptyBase) + L"TS Removing: McAfee\r\n");
}

TEST_F(McAfeeRemoverTest, ACandidateReachedTwiceRunsTwiceUnlessTheFirstRunRemovedIt) {
    host.memory.SetString(kMachine, L"SOFTWARE\\McAfee\\MPF", L"Install Dir", L"C:\\M\\MPF");
    const std::wstring inf = L"C:\\M\\MPF\\mpfLI.inf";
    host.files.insert(inf);
    RemoveMcAfeeComponents(context, L"McAfee", L"C:\\M");
    EXPECT_EQ(host.LaunchedCommands(), (std::vector<std::wstring>{Command(inf), Command(inf)}));

    // Each candidate is tested when its turn comes: once the first command
    // has removed the file, the second candidate finds nothing.
    host.launches.clear();
    host.behaviours.emplace_back(L"mpfLI.inf", [inf](FakeRemovalHost& h) { h.files.erase(inf); });
    RemoveMcAfeeComponents(context, L"McAfee", L"C:\\M");
    EXPECT_EQ(host.LaunchedCommands(), std::vector<std::wstring>{Command(inf)});
}

TEST_F(McAfeeRemoverTest, OneQuestionCoversEveryCommand) {
    settings.AskBeforeRemoval = true;
    host.files.insert(L"C:\\L\\MPF\\mpfLI.inf");
    host.files.insert(L"C:\\L\\MSC\\mscli.inf");
    host.memory.SetString(kMachine, kVirusScanKey64, kVirusScanUninstallValue, L"C:\\vs\\rm.exe");

    host.answers = {QuestionAnswer::Yes};
    RemoveMcAfeeComponents(context, L"McAfee Total Protection", L"C:\\L");
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.launches.size(), 3u);

    state = RemovalState{};
    host.questions.clear();
    host.launches.clear();
    host.answers = {QuestionAnswer::No};
    RemoveMcAfeeComponents(context, L"McAfee Total Protection", L"C:\\L");
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_TRUE(host.launches.empty());
}

TEST_F(McAfeeRemoverTest, AComponentCommandTooLongForACommandLineIsRefused) {
    // A 254-character location makes an .inf path of 268 characters; with
    // the installer path the command no longer fits and is refused whole.
    const std::wstring location = L"C:\\" + std::wstring(251, L'x');
    host.files.insert(location + L"\\MPF\\mpfLI.inf");
    host.environment[L"CommonProgramFiles"] = L"C:\\" + std::wstring(220, L'c');
    host.files.insert(host.environment[L"CommonProgramFiles"] + L"\\McAfee\\Installer\\mcinst.exe");
    RemoveMcAfeeComponents(context, L"McAfee", location);
    EXPECT_TRUE(host.launches.empty());
    EXPECT_EQ(host.log,
              L"TS Not removing McAfee: its uninstall command would be longer than 511 "
              L"characters.\r\nTS" +
                  std::wstring(kLogMcAfeeEmptyBase));
}

}  // namespace
}  // namespace clearon
