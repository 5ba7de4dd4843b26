#include "removal/removal_run.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "removal/product_discovery.h"
#include "resume/pending_renames.h"
#include "resume/reboot_resume.h"
#include "support/host/fake_removal_host.h"
#include "support/host/fake_resume_host.h"

namespace clearon {
namespace {

using test::FakeRemovalHost;
using test::FakeResumeHost;

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

struct RemovalRunFixture : ::testing::Test {
    FakeRemovalHost host;
    FakeResumeHost resumeHost{host};
    RemovalState state;
    Settings settings;
    std::wstring config;

    RemovalRunFixture() {
        settings.AskBeforeRemoval = false;
        host.memory.CreateKey(RegistryRoot::CurrentUser, kRunOnceKey);
        host.memory.CreateKey(kMachine, kSessionManagerKey);
        host.memory.CreateKey(kMachine, kSoftwareKey);
    }

    // An Uninstall entry whose uninstaller deletes it when it runs.
    std::wstring AddProduct(const std::wstring& subkey, const std::wstring& displayName,
                            const std::wstring& command, bool uninstallerWorks = true) {
        const std::wstring key = std::wstring(kUninstallRoot) + L"\\" + subkey;
        host.memory.SetString(kMachine, key, L"DisplayName", displayName);
        host.memory.SetString(kMachine, key, L"UninstallString", command);
        if (uninstallerWorks) host.RemovesKey(command, key);
        return key;
    }

    bool Run(bool showGui = false, std::wstring_view arguments = L"") {
        RemovalContext context{host, state, settings, config, false};
        return RunRemoval(context, resumeHost, arguments, showGui);
    }
};

TEST_F(RemovalRunFixture, ARepresentativeRunInItsOrder) {
    config =
        L"[Settings]\r\n"
        L"RunBeforeRemoval=before.exe\r\n"
        L"RunAfterRemoval=setup.exe /quiet\r\n"
        L"[ProductNames]\r\n"
        L"Acme AntiVirus\r\n";
    AddProduct(L"{A1}", L"Acme AntiVirus 2010 Pro", L"MsiExec.exe /I{A1}");
    host.RemovesKey(L"{A1}", std::wstring(kUninstallRoot) + L"\\{A1}");

    EXPECT_TRUE(Run(/*showGui=*/true, L"/s"));

    EXPECT_EQ(
        host.LaunchedCommands(),
        (std::vector<std::wstring>{L"before.exe", L"MsiExec.exe /X{A1} REMOVE=ALL REBOOT=R /qn",
                                   L"setup.exe /quiet /s"}));
    EXPECT_EQ(host.statuses,
              (std::vector<std::wstring>{
                  L"Running programs before removal . . .",
                  L"Searching . . .",
                  L"Uninstalling Acme AntiVirus 2010 Pro . . .",
                  L"Searching . . .",
                  L"Running programs after removal . . .",
                  L"Installing Aegira . . .",
                  L"Running programs after removal . . .",
                  L"Clearon has completed successfully.\r\nPlease reboot your system to continue.",
              }));
    const std::wstring expectedLog =
        L"TS Removing: Acme AntiVirus 2010 Pro\r\n"
        L"TS Aegira is NOT installed.\r\n"
        L"TS Added tool to current user's RunOnce key, please reboot to run tool again.\r\n";
    EXPECT_EQ(host.log, expectedLog);
    EXPECT_EQ(state.failureCount, 0);
}

TEST_F(RemovalRunFixture, NoProductNamesStillRunsBothListsTheDecisionAndTheRestore) {
    const std::wstring pending(L"\\??\\C:\\old\0\0", 12);
    host.memory.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue, pending);
    config =
        L"[Settings]\r\nRunBeforeRemoval=before.exe\r\nRunAfterRemoval=after.exe\r\n"
        L"[ProductNames]\r\n";
    EXPECT_FALSE(Run(true));
    EXPECT_EQ(host.LaunchedCommands(), (std::vector<std::wstring>{L"before.exe", L"after.exe"}));
    EXPECT_EQ(host.log, L"TS Aegira is NOT installed.\r\n");
    EXPECT_EQ(host.statuses.back(), L"Clearon has completed successfully.");
    // Set aside before each program, merged back at the end (with the
    // closing NUL the list lacked).
    EXPECT_EQ(host.memory.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesValue),
              pending + L'\0');
    EXPECT_FALSE(
        host.memory.Get(kMachine, kSessionManagerKey, kPendingRenamesAsideValue).has_value());
}

TEST_F(RemovalRunFixture, AnErrorThatEndsTheRunStillPutsThePendingRenamesBack) {
    const std::wstring pending(L"\\??\\C:\\old\0\0\0", 13);
    host.memory.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue, pending);
    config = L"[Settings]\r\nRunBeforeRemoval=before.exe\r\n[ProductNames]\r\n";
    host.behaviours.emplace_back(L"before.exe", [](FakeRemovalHost&) { throw std::bad_alloc(); });
    EXPECT_THROW(Run(), std::bad_alloc);
    EXPECT_EQ(host.memory.GetCharacters(kMachine, kSessionManagerKey, kPendingRenamesValue),
              pending);
    EXPECT_FALSE(
        host.memory.Get(kMachine, kSessionManagerKey, kPendingRenamesAsideValue).has_value());
}

TEST_F(RemovalRunFixture, ProductLineEdgeCases) {
    const struct {
        const char* what;
        std::wstring config;
        std::wstring displayName;
        bool removed;
    } cases[] = {
        {"a plain name", L"[ProductNames]\r\nAcme AntiVirus\r\n", L"Acme AntiVirus 2010", true},
        {"a comment", L"[ProductNames]\r\n;Acme AntiVirus\r\n", L"Acme AntiVirus 2010", false},
        {"blank before the semicolon is a name", L"[ProductNames]\r\n ;Acme AntiVirus\r\n",
         L"Old ;Acme AntiVirus", true},
        {"a bracketed name ends the section",
         L"[ProductNames]\r\nAcme AntiVirus [x64]\r\nZebra Antivirus\r\n", L"Zebra Antivirus",
         false},
        {"the bracketed line is no name", L"[ProductNames]\r\nAcme AntiVirus [x64]\r\n",
         L"Acme AntiVirus [x64]", false},
        {"one bracket only is a name", L"[ProductNames]\r\nAcme [beta\r\n", L"Acme [beta edition",
         true},
        {"header in lower case with blanks and a comment, last line without line end",
         L"[Settings]\r\n  [productnames] ; the list\r\nAcme AntiVirus", L"Acme AntiVirus", true},
        {"bare line feeds lose the last character",
         L"[ProductNames]\r\nNorton Security\nZeta Product", L"Norton Securitas", true},
        {"bare line feeds: the last line stays whole",
         L"[ProductNames]\r\nNorton Security\nZeta Product", L"Zeta Product", true},
        {"bare line feeds: a name one letter longer than the product then matches it",
         L"[ProductNames]\r\nAcme AntiVirusX\nZeta Product", L"Acme AntiVirus", true},
        {"a second section is scanned too",
         L"[ProductNames]\r\n[Settings]\r\nx=1\r\n[PRODUCTNAMES]\r\nAcme AntiVirus\r\n",
         L"Acme AntiVirus", true},
    };
    for (const auto& c : cases) {
        FakeRemovalHost fresh;
        FakeResumeHost freshResume(fresh);
        RemovalState freshState;
        const std::wstring key = std::wstring(kUninstallRoot) + L"\\{P}";
        fresh.memory.SetString(kMachine, key, L"DisplayName", c.displayName);
        fresh.memory.SetString(kMachine, key, L"UninstallString", L"remove.exe");
        fresh.RemovesKey(L"remove.exe", key);
        RemovalContext context{fresh, freshState, settings, c.config, false};
        RunRemoval(context, freshResume, L"", false);
        EXPECT_EQ(!fresh.memory.HasKey(kMachine, key), c.removed) << c.what;
    }
}

TEST_F(RemovalRunFixture, ProventiaDesktopRemoverForAnyPieceOfItsName) {
    host.memory.SetString(kMachine, kProventiaKey, L"InstallDir", L"C:\\ISS");
    host.files.insert(L"C:\\ISS\\AgentRemove.exe");
    const struct {
        std::wstring line;
        bool runsRemover;
    } cases[] = {
        {L"Proventia", true},
        {L"desktop", true},
        {L"", true},
        {L"Proventia Desktop", true},
        {L"ISS Proventia Desktop", false},
    };
    for (const auto& c : cases) {
        host.launches.clear();
        config = L"[ProductNames]\r\n" + c.line + L"\r\n[UninstallPaths]\r\n";
        Run();
        const bool ran = !host.launches.empty() &&
                         host.launches.back().commandLine == L"C:\\ISS\\AgentRemove.exe";
        EXPECT_EQ(ran, c.runsRemover)
            << "line '" << std::string(c.line.begin(), c.line.end()) << "'";
    }
    host.launches.clear();
    host.files.clear();
    config = L"[ProductNames]\r\nProventia\r\n";
    Run();
    EXPECT_TRUE(host.launches.empty()) << "a missing AgentRemove.exe is skipped silently";
}

TEST_F(RemovalRunFixture, SecurityCenterIsRemovedAfterEveryOtherProduct) {
    config = L"[ProductNames]\r\nMcAfee\r\n";
    AddProduct(L"{A}", L"McAfee SecurityCenter", L"sc.exe");
    AddProduct(L"{B}", L"McAfee VirusScan", L"vs.exe");
    Run();
    EXPECT_EQ(host.LaunchedCommands(), (std::vector<std::wstring>{L"vs.exe", L"sc.exe"}));
    EXPECT_TRUE(state.securityCenterSeen);
    EXPECT_TRUE(state.securityCenterPass);
}

TEST_F(RemovalRunFixture, NoDeferredEntryMeansNoExtraPassButThePassFlagIsSet) {
    config = L"[ProductNames]\r\nAcme AntiVirus\r\n";
    AddProduct(L"{A}", L"Acme AntiVirus", L"acme.exe");
    Run();
    EXPECT_EQ(host.LaunchedCommands(), std::vector<std::wstring>{L"acme.exe"});
    EXPECT_FALSE(state.securityCenterSeen);
    EXPECT_TRUE(state.securityCenterPass);
}

TEST_F(RemovalRunFixture, AnswersAreForgottenAtTheStartOfEachRun) {
    settings.AskBeforeRemoval = true;
    config = L"[ProductNames]\r\nAcme AntiVirus\r\n";
    AddProduct(L"{A}", L"Acme AntiVirus", L"acme.exe");
    state.declinedList = {L"|Acme AntiVirus|"};
    host.defaultAnswer = QuestionAnswer::Yes;
    Run();
    EXPECT_EQ(host.questions.size(), 1u);
    EXPECT_EQ(host.LaunchedCommands(), std::vector<std::wstring>{L"acme.exe"});
}

TEST_F(RemovalRunFixture, AProductThatStaysCountsAndSilentRunsPostNoFinalText) {
    config = L"[ProductNames]\r\nAcme AntiVirus\r\n";
    AddProduct(L"{A}", L"Acme AntiVirus", L"acme.exe", /*uninstallerWorks=*/false);
    EXPECT_FALSE(Run(/*showGui=*/false));
    EXPECT_EQ(state.failureCount, 1);
    EXPECT_NE(host.log.find(L"TS Failed to remove Acme AntiVirus\r\n"), std::wstring::npos);
    for (const auto& status : host.statuses) {
        EXPECT_EQ(status.find(L"Clearon has completed"), std::wstring::npos);
    }
}

TEST_F(RemovalRunFixture, AnOverlongProductLineIsSkippedWithALogLine) {
    config = L"[ProductNames]\r\n" + std::wstring(255, L'a') + L"\r\n";
    AddProduct(L"{A}", std::wstring(300, L'a'), L"a.exe");
    Run();
    EXPECT_TRUE(host.launches.empty());
    EXPECT_NE(host.log.find(L"Skipping a [ProductNames] line longer than 254 characters."),
              std::wstring::npos);
}

}  // namespace
}  // namespace clearon
