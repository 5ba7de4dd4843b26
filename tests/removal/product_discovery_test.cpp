// Product discovery over an in-memory registry: which entries match, which
// command each gets, the McAfee special cases, verification and the failure
// count, the [UninstallPaths] roots, the 32-bit twins and bad registry data.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "log/log_texts.h"
#include "removal/product_discovery.h"
#include "removal/uninstall_command.h"
#include "support/host/fake_removal_host.h"

namespace clearon {
namespace {

using test::FakeRemovalHost;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
const std::wstring kUninstall = std::wstring(kUninstallRoot);
const std::wstring kUninstall32 = std::wstring(kUninstallRoot32);
const std::wstring kUserData = std::wstring(kInstallerUserDataRoot);
const std::wstring kUserData32 = std::wstring(kInstallerUserDataRoot32);
const std::wstring kSystem = L"S-1-5-18";

class ProductDiscoveryTest : public ::testing::Test {
protected:
    FakeRemovalHost host;
    RemovalState state;
    Settings settings;
    std::wstring config;
    RemovalContext context{host, state, settings, L"", false};

    void SetUp() override { settings.AskBeforeRemoval = false; }

    // An entry under an Uninstall-like root; returns its key path.
    std::wstring AddEntry(const std::wstring& root, const std::wstring& subkey,
                          const std::wstring& displayName, const std::wstring& command) {
        const std::wstring key = root + L"\\" + subkey;
        host.memory.CreateKey(kMachine, key);
        if (!displayName.empty()) host.memory.SetString(kMachine, key, L"DisplayName", displayName);
        if (!command.empty()) host.memory.SetString(kMachine, key, L"UninstallString", command);
        return key;
    }
    // A Windows Installer product under an installer root; returns the key
    // of its InstallProperties.
    std::wstring AddInstallerEntry(const std::wstring& root, const std::wstring& packed,
                                   const std::wstring& displayName, const std::wstring& command) {
        const std::wstring products = root + L"\\" + kSystem + L"\\Products";
        host.memory.CreateKey(kMachine, products + L"\\" + packed + L"\\Features");
        return AddEntry(products + L"\\" + packed, L"InstallProperties", displayName, command);
    }
    void Scan(const std::wstring& name) {
        context.configText = config;
        ScanForProduct(context, name);
    }
    std::vector<std::wstring> Launched() const { return host.LaunchedCommands(); }
};

TEST_F(ProductDiscoveryTest, TheConfiguredNameIsLookedForInsideTheDisplayName) {
    AddEntry(kUninstall, L"Acme", L"Acme AntiVirus 2010 Pro", L"C:\\acme\\remove.exe");
    const struct {
        const wchar_t* name;
        bool found;
    } cases[] = {{L"acme antivirus", true},
                 {L"ANTIVIRUS 2010", true},
                 {L"Acme AntiVirus 2010 Professional", false},
                 {L"Acme", false},  // four characters find nothing
                 {L"2010 Pro", true}};
    for (const auto& c : cases) {
        host.launches.clear();
        Scan(c.name);
        EXPECT_EQ(host.launches.size(), c.found ? 1u : 0u) << static_cast<int>(c.found);
    }
}

TEST_F(ProductDiscoveryTest, AShortNameStillWalksTheInstallerDataButFindsNothing) {
    AddEntry(kUninstall, L"A", L"Acme AV", L"remove.exe");
    AddInstallerEntry(kUserData, L"ABCD", L"Acme AV", L"MsiExec.exe /X{A}");
    std::vector<std::wstring> opened;
    host.memory.onOpen = [&](std::wstring_view key, std::wstring_view) {
        opened.emplace_back(key);
        return std::optional<RegistryStatus>{};
    };
    Scan(L"Acme");
    EXPECT_TRUE(host.launches.empty());
    // The installer root and its user SIDs are enumerated; nothing below the
    // SIDs and nothing of the Uninstall root is opened.
    EXPECT_NE(std::find(opened.begin(), opened.end(), kUserData), opened.end());
    for (const auto& key : opened) {
        EXPECT_EQ(key, kUserData) << std::string(key.begin(), key.end());
    }
}

TEST_F(ProductDiscoveryTest, TheMakersOwnProductsAreLeftAloneUnlessAllowed) {
    AddEntry(kUninstall, L"T", L"TESSARAL Acme Agent", L"remove.exe");
    Scan(L"Acme Agent");
    EXPECT_TRUE(host.launches.empty());
    EXPECT_TRUE(host.log.empty());
    settings.RemoveTessaral = true;
    Scan(L"Acme Agent");
    EXPECT_EQ(Launched(), std::vector<std::wstring>{L"remove.exe"});
}

TEST_F(ProductDiscoveryTest, TheUninstallValueIsChosenBySilentMSIInstaller) {
    const struct {
        std::vector<std::pair<const wchar_t*, const wchar_t*>> values;
        bool silent;
        const wchar_t* expected;  // nullptr: not run
    } cases[] = {
        {{{L"UninstallString", L"plain.exe"}, {L"QuietUninstallString", L"quiet.exe"}},
         true,
         L"quiet.exe"},
        {{{L"UninstallString", L"plain.exe"}, {L"QuietUninstallString", L"quiet.exe"}},
         false,
         L"plain.exe"},
        {{{L"QuietUninstallString", L"quiet.exe"}}, true, L"quiet.exe"},
        {{{L"QuietUninstallString", L"quiet.exe"}}, false, L"quiet.exe"},
        {{{L"ModifyPath", L"modify.exe"}}, true, L"modify.exe"},
        {{{L"ModifyPath", L"modify.exe"}}, false, L"modify.exe"},
        {{{L"Uninstall String", L"spaced.exe"}, {L"ModifyPath", L"modify.exe"}},
         false,
         L"spaced.exe"},
        {{{L"UninstallCommand", L"command.exe"}, {L"ModifyPath", L"modify.exe"}},
         true,
         L"command.exe"},
        {{{L"UninstallString", L""}, {L"UninstallCommand", L"command.exe"}}, false, L"command.exe"},
        {{}, true, nullptr},
    };
    for (const auto& c : cases) {
        host.memory.DeleteKeyTree(kMachine, kUninstall);
        host.launches.clear();
        const std::wstring key = AddEntry(kUninstall, L"Acme", L"Acme AV", L"");
        for (const auto& [name, data] : c.values) host.memory.SetString(kMachine, key, name, data);
        settings.SilentMSIInstaller = c.silent;
        Scan(L"Acme AV");
        if (c.expected == nullptr) {
            EXPECT_TRUE(host.launches.empty());
        } else {
            EXPECT_EQ(Launched(), std::vector<std::wstring>{c.expected});
        }
    }
}

TEST_F(ProductDiscoveryTest, ADisplayNameIsTakenFromTheFirstValueThatHoldsOne) {
    const std::wstring key = AddEntry(kUninstall, L"Acme", L"", L"remove.exe");
    host.memory.SetString(kMachine, key, L"Product Name", L"Acme AV");
    host.memory.SetString(kMachine, key, L"ProductName", L"Other Product");
    Scan(L"Acme AV");
    EXPECT_TRUE(host.launches.empty()) << "ProductName comes before Product Name";
    Scan(L"Other Product");
    EXPECT_EQ(host.launches.size(), 1u);
}

TEST_F(ProductDiscoveryTest, AKeyWithoutValuesIsNotReadFourTimes) {
    // The product key above InstallProperties holds no values: after the
    // first miss its value count ends the display-name reads. A key with
    // only a later display-name value is still read to the end.
    AddInstallerEntry(kUserData, L"PACKED", L"Other AV", L"remove.exe");
    int productKeyQueries = 0;
    host.memory.onQuery = [&](std::wstring_view key, std::wstring_view) {
        if (key == kUserData + L"\\" + kSystem + L"\\Products\\PACKED") ++productKeyQueries;
        return std::optional<RegistryStatus>{};
    };
    Scan(L"Acme AV");
    EXPECT_EQ(productKeyQueries, 1);

    const std::wstring key = AddEntry(kUninstall, L"Late", L"", L"late.exe");
    host.memory.SetString(kMachine, key, L"Product Name", L"Acme AV late");
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(), std::vector<std::wstring>{L"late.exe"});
}

TEST_F(ProductDiscoveryTest, AProductCodeKeyWithoutCommandFallsBackToMsiExec) {
    settings.SilentMSIInstaller = true;
    AddEntry(kUninstall, L"{0A1B2C3D-0000-1111-2222-333344445555}", L"Acme AV", L"");
    AddEntry(kUninstall, L"AcmeNoCode", L"Acme AV", L"");
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(),
              std::vector<std::wstring>{L"MsiExec.exe /X{0A1B2C3D-0000-1111-2222-333344445555} "
                                        L"REMOVE=ALL REBOOT=R /qn"});
    // Only the entry that ran is verified; the one without a command is
    // passed over without a word.
    EXPECT_EQ(host.log, L"TS Removing: Acme AV\r\nTS Failed to remove Acme AV\r\n");
}

TEST_F(ProductDiscoveryTest, TheMsiExecFallbackKeepsALongKeyNameWhole) {
    const std::wstring subkey = L"{" + std::wstring(252, L'7') + L"}";
    AddEntry(kUninstall, subkey, L"Acme AV", L"");
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(),
              std::vector<std::wstring>{L"MsiExec.exe /X" + subkey + L" REMOVE=ALL REBOOT=R /qn"});
}

TEST_F(ProductDiscoveryTest, SecurityCenterWaitsForTheFinalPass) {
    const std::wstring key =
        AddEntry(kUninstall, L"MSC", L"McAfee SecurityCenter", L"C:\\msc\\remove.exe");
    host.RemovesKey(L"msc\\remove.exe", key);
    Scan(L"McAfee");
    EXPECT_TRUE(host.launches.empty());
    EXPECT_TRUE(state.securityCenterSeen);
    EXPECT_EQ(state.failureCount, 0);

    state.securityCenterPass = true;
    Scan(L"McAfee SecurityCenter");
    EXPECT_EQ(Launched(), std::vector<std::wstring>{L"C:\\msc\\remove.exe"});
    EXPECT_FALSE(host.memory.HasKey(kMachine, key));
    EXPECT_EQ(state.failureCount, 0);
}

TEST_F(ProductDiscoveryTest, McAfeeComponentsComeFirstOnlyWhenSilent) {
    host.environment[L"CommonProgramFiles"] = L"C:\\CPF";
    host.files.insert(L"C:\\CPF\\McAfee\\Installer\\mcinst.exe");
    host.files.insert(L"C:\\McAfee\\MPF\\mpfLI.inf");
    const std::wstring component =
        L"\"C:\\CPF\\McAfee\\Installer\\mcinst.exe\" \"C:\\McAfee\\MPF\\mpfLI.inf\" /uninstall";
    const std::wstring own = L"C:\\McAfee\\mcuihost.exe /body:misp://MSCJsRes.dll::uninstall.html";
    const struct {
        const wchar_t* displayName;
        bool silent;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"McAfee Total Protection", true, {component, own}},
        {L"McAfee Total Protection", false, {own}},
        {L"Other Total Protection", true, {own}},
        // Without mcinst.exe the components are passed over, not the entry.
        {L"McAfee Total Protection (no installer)", true, {own}},
    };
    for (const auto& c : cases) {
        host.memory.DeleteKeyTree(kMachine, kUninstall);
        host.launches.clear();
        const std::wstring key = AddEntry(kUninstall, L"MTP", c.displayName, own);
        host.memory.SetString(kMachine, key, L"InstallLocation", L"C:\\McAfee");
        settings.SilentMSIInstaller = c.silent;
        if (std::wstring(c.displayName).find(L"no installer") != std::wstring::npos) {
            host.files.erase(L"C:\\CPF\\McAfee\\Installer\\mcinst.exe");
        }
        Scan(L"Total Protection");
        EXPECT_EQ(Launched(), c.expected);
    }
}

TEST_F(ProductDiscoveryTest, TheAgentsLocationIsRememberedForFrminst) {
    const std::wstring key =
        AddEntry(kUninstall, L"Agent", L"McAfee Agent", L"C:\\Agent\\remove.exe");
    host.memory.SetString(kMachine, key, L"InstallLocation", L"C:\\Agent\\");
    host.files.insert(L"C:\\Agent\\frminst.exe");
    Scan(L"McAfee Agent");
    EXPECT_EQ(state.agentLocation, L"C:\\Agent\\");
    EXPECT_EQ(Launched(),
              (std::vector<std::wstring>{L"C:\\Agent\\remove.exe",
                                         L"\"C:\\Agent\\frminst.exe\" /forceuninstall /silent"}));
    // A later agent entry without a location overwrites it.
    host.memory.DeleteKeyTree(kMachine, key);
    AddEntry(kUninstall, L"Agent2", L"McAfee Agent 5", L"remove5.exe");
    Scan(L"McAfee Agent");
    EXPECT_EQ(state.agentLocation, L"");
}

TEST_F(ProductDiscoveryTest, EveryEntryIsExaminedOnceWhatEverTheUninstallersDelete) {
    // Each uninstaller deletes its own entry (and "one" also takes "three"
    // with it): every entry present when the walk began and still present
    // when its turn comes is examined, once, in one walk.
    const std::wstring a = AddEntry(kUninstall, L"A", L"Acme AV one", L"remove-a.exe");
    const std::wstring b = AddEntry(kUninstall, L"B", L"Acme AV two", L"remove-b.exe");
    const std::wstring c = AddEntry(kUninstall, L"C", L"Acme AV three", L"remove-c.exe");
    const std::wstring d = AddEntry(kUninstall, L"D", L"Acme AV four", L"remove-d.exe");
    host.RemovesKey(L"remove-a.exe", a);
    host.RemovesKey(L"remove-a.exe", c);
    host.RemovesKey(L"remove-b.exe", b);
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(),
              (std::vector<std::wstring>{L"remove-a.exe", L"remove-b.exe", L"remove-d.exe"}));
    EXPECT_EQ(state.failureCount, 1);  // four stayed, and is counted
}

TEST_F(ProductDiscoveryTest, AMatchedProductWhoseCommandDoesNotFitIsCountedNotPassedOver) {
    const struct {
        const wchar_t* value;
        std::size_t length;
        bool silent;
        bool launched;
    } cases[] = {
        {L"UninstallString", 300, false, false},
        {L"QuietUninstallString", 300, true, false},
        {L"UninstallString", 254, false, true},  // the longest that fits the buffer
    };
    for (const auto& c : cases) {
        FakeRemovalHost fresh;
        RemovalState freshState;
        settings.SilentMSIInstaller = c.silent;
        RemovalContext run{fresh, freshState, settings, L"", false};
        const std::wstring key = kUninstall + L"\\Acme";
        fresh.memory.CreateKey(kMachine, key);
        fresh.memory.SetString(kMachine, key, L"DisplayName", L"Acme AV");
        fresh.memory.SetString(kMachine, key, c.value,
                               L"C:\\x.exe /" + std::wstring(c.length - 10, L'a'));
        ScanForProduct(run, L"Acme AV");
        EXPECT_EQ(fresh.launches.size(), c.launched ? 1u : 0u) << c.value << c.length;
        EXPECT_EQ(freshState.failureCount, 1) << c.value << c.length;
        if (!c.launched) {
            EXPECT_EQ(fresh.log, L"TS Not removing Acme AV" +
                                     std::wstring(kLogUninstallValueTooLong) +
                                     L"TS Failed to remove Acme AV\r\n");
        }
    }
}

TEST_F(ProductDiscoveryTest, LineEndsInRegistryTextNeverForgeALogLine) {
    AddEntry(kUninstall, L"Acme", L"Acme AV\r\n01/01/2026 00:00:00:000 Removing: Beta",
             L"C:\\acme\\remove.exe\r\nx");
    Scan(L"Acme AV");
    EXPECT_EQ(host.log,
              L"TS Removing: Acme AV<0D><0A>01/01/2026 00:00:00:000 Removing: Beta\r\n"
              L"TS Failed to remove Acme AV<0D><0A>01/01/2026 00:00:00:000 Removing: Beta\r\n");
}

TEST_F(ProductDiscoveryTest, AnEntryVanishingWhileItIsReadIsPassedOver) {
    // The entry disappears right after its display name was read (another
    // program removed it): no command is found and nothing is run or counted.
    const std::wstring key = AddEntry(kUninstall, L"A", L"Acme AV", L"remove.exe");
    host.memory.afterQuery = [&](std::wstring_view queried, std::wstring_view value) {
        if (value == L"DisplayName" && queried == key) host.memory.DeleteKeyTree(kMachine, key);
    };
    Scan(L"Acme AV");
    EXPECT_TRUE(host.launches.empty());
    EXPECT_EQ(state.failureCount, 0);
    EXPECT_TRUE(host.log.empty());
}

TEST_F(ProductDiscoveryTest, AFailureCountsOncePerNameAndIsTakenBackWhenRemovedLater) {
    settings.SilentMSIInstaller = true;
    // The same product under the installer data and the Uninstall key, and
    // another product that stays too.
    const std::wstring props =
        AddInstallerEntry(kUserData, L"D3C2B1A0", L"Acme AV", L"MsiExec.exe /X{A0B1C2D3}");
    const std::wstring entry = AddEntry(kUninstall, L"{A0B1C2D3}", L"ACME av", L"");
    AddEntry(kUninstall, L"Other", L"Acme AV Tools", L"tools.exe");
    Scan(L"Acme AV");
    EXPECT_EQ(host.launches.size(), 3u);
    EXPECT_EQ(state.failureCount, 2);
    EXPECT_EQ(state.failedList, (NameList{L"|Acme AV|", L"|Acme AV Tools|"}));
    // Subkeys come in name order: "Other" before "{A0B1C2D3}".
    EXPECT_EQ(host.log,
              L"TS Removing: Acme AV\r\nTS Failed to remove Acme AV\r\n"
              L"TS Removing: Acme AV Tools\r\nTS Failed to remove Acme AV Tools\r\n"
              L"TS Removing: ACME av\r\nTS Failed to remove ACME av\r\n");

    // A later meeting removes it: the count drops back, the marker stays.
    host.memory.DeleteKeyTree(kMachine, kUninstall + L"\\Other");
    host.RemovesKey(L"{A0B1C2D3}", props);
    host.RemovesKey(L"{A0B1C2D3}", entry);
    host.log.clear();
    Scan(L"Acme AV");
    EXPECT_EQ(state.failureCount, 1);
    EXPECT_EQ(state.failedList, (NameList{L"|Acme AV|", L"|Acme AV Tools|"}));
    EXPECT_EQ(host.log, L"TS Removing: Acme AV\r\n");
}

TEST_F(ProductDiscoveryTest, ANameStopsCountingOnlyWhenEveryEntryThatFailedIsGone) {
    // Two entries under one name: the first stays, the second goes. The name
    // still counts, since the first entry is still installed.
    AddEntry(kUninstall, L"A", L"Acme AV", L"remove-a.exe");
    const std::wstring b = AddEntry(kUninstall, L"B", L"Acme AV", L"remove-b.exe");
    host.RemovesKey(L"remove-b.exe", b);
    host.exitCodes = {1618};  // remove-a.exe: Windows Installer was busy
    Scan(L"Acme AV");
    EXPECT_EQ(state.failureCount, 1);
    ASSERT_EQ(state.failedEntries.size(), 1u);
    EXPECT_TRUE(state.failedEntries[0].installerBusy);

    // Another product fails; then the stubborn entry goes, and a further
    // entry of the same name is removed as well: the take-back happens once
    // and never eats the other product's failure.
    AddEntry(kUninstall, L"Y", L"Yonder Shield", L"remove-y.exe");
    Scan(L"Yonder Shield");
    EXPECT_EQ(state.failureCount, 2);
    host.RemovesKey(L"remove-a.exe", kUninstall + L"\\A");
    Scan(L"Acme AV");
    EXPECT_EQ(state.failureCount, 1);
    const std::wstring c = AddEntry(kUninstall, L"C", L"Acme AV", L"remove-c.exe");
    host.RemovesKey(L"remove-c.exe", c);
    Scan(L"Acme AV");
    EXPECT_EQ(state.failureCount, 1);

    // A name that fails again after it was taken back counts again.
    AddEntry(kUninstall, L"D", L"Acme AV", L"remove-d.exe");
    Scan(L"Acme AV");
    EXPECT_EQ(state.failureCount, 2);
    // B, A and C went after their uninstallers ran; D and Y stayed.
    EXPECT_EQ(state.removedCount, 3);
}

TEST_F(ProductDiscoveryTest, ARemovalAtTheFirstAttemptCountsNothing) {
    const std::wstring key = AddEntry(kUninstall, L"A", L"Acme AV", L"remove.exe");
    host.RemovesKey(L"remove.exe", key);
    Scan(L"Acme AV");
    EXPECT_EQ(state.failureCount, 0);
    EXPECT_TRUE(state.failedList.empty());
    EXPECT_EQ(host.log, L"TS Removing: Acme AV\r\n");
}

TEST_F(ProductDiscoveryTest, ADeclinedProductIsNeverVerified) {
    settings.AskBeforeRemoval = true;
    host.defaultAnswer = QuestionAnswer::No;
    AddEntry(kUninstall, L"A", L"Acme AV", L"remove.exe");
    AddInstallerEntry(kUserData, L"PACKED", L"acme av", L"MsiExec.exe /X{A}");
    Scan(L"Acme AV");
    EXPECT_EQ(host.questions.size(), 1u) << "one question for both roots";
    EXPECT_TRUE(host.launches.empty());
    EXPECT_EQ(state.failureCount, 0);
    EXPECT_EQ(host.log, L"TS User chose not to remove: acme av\r\n");
}

TEST_F(ProductDiscoveryTest, AnUnansweredQuestionCountsAsNotRemoved) {
    settings.AskBeforeRemoval = true;
    host.defaultAnswer = QuestionAnswer::Failed;
    AddEntry(kUninstall, L"A", L"Acme AV", L"remove.exe");
    Scan(L"Acme AV");
    EXPECT_TRUE(host.launches.empty());
    EXPECT_EQ(state.failureCount, 1);
    EXPECT_EQ(host.log, L"TS Failed to remove Acme AV\r\n");
}

TEST_F(ProductDiscoveryTest, ACommandTooLongIsNotRunAndCountsAsAFailure) {
    // A stored command reads as at most 254 characters; the Windows Installer
    // switches and 254 characters of extra parameters take it past 511.
    AddEntry(kUninstall, L"A", L"Acme AV", L"MsiExec.exe /I{" + std::wstring(238, L'7') + L"}");
    settings.MSIExtraParameters = std::wstring(254, L'p');
    Scan(L"Acme AV");
    EXPECT_TRUE(host.launches.empty());
    EXPECT_EQ(state.failureCount, 1);
    EXPECT_EQ(host.log,
              L"TS Not removing Acme AV: its uninstall command would be longer than 511 "
              L"characters.\r\nTS Failed to remove Acme AV\r\n");
}

TEST_F(ProductDiscoveryTest, UninstallPathsSectionsAreScannedByTheSectionRule) {
    config =
        L"[Settings]\r\nShowGUI=N\r\n"
        L"[UninstallPaths]\r\n"
        L"SOFTWARE\\VendorA\\Uninstall\r\n"
        L";SOFTWARE\\VendorB\\Uninstall\r\n"
        L"\r\n"
        L"[ProductNames]\r\nAcme AV\r\n"
        L"SOFTWARE\\VendorC\\Uninstall\r\n"
        L"[uninstallpaths] ; again\r\n"
        L"SOFTWARE\\VendorD\\Uninstall";
    for (const wchar_t* vendor : {L"VendorA", L"VendorB", L"VendorC", L"VendorD"}) {
        AddEntry(std::wstring(L"SOFTWARE\\") + vendor + L"\\Uninstall", L"Acme",
                 std::wstring(L"Acme AV by ") + vendor, std::wstring(L"remove-") + vendor);
    }
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(), (std::vector<std::wstring>{L"remove-VendorA", L"remove-VendorD"}));

    host.launches.clear();
    std::vector<std::wstring> opened;
    host.memory.onOpen = [&](std::wstring_view key, std::wstring_view) {
        opened.emplace_back(key);
        return std::optional<RegistryStatus>{};
    };
    Scan(L"Acme");
    EXPECT_TRUE(host.launches.empty());
    for (const auto& key : opened) EXPECT_EQ(key.find(L"Vendor"), std::wstring::npos);
}

TEST_F(ProductDiscoveryTest, AnUninstallPathLineTooLongIsSkippedWithALogLine) {
    const std::wstring longRoot = L"SOFTWARE\\" + std::wstring(250, L'v');
    config = L"[UninstallPaths]\r\n" + longRoot + L"\r\nSOFTWARE\\VendorA\r\n";
    AddEntry(longRoot, L"Acme", L"Acme AV long", L"remove-long");
    AddEntry(L"SOFTWARE\\VendorA", L"Acme", L"Acme AV short", L"remove-short");
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(), std::vector<std::wstring>{L"remove-short"});
    EXPECT_EQ(
        host.log.find(L"TS Skipping an [UninstallPaths] line longer than 254 characters.\r\n"), 0u);
}

TEST_F(ProductDiscoveryTest, LongKeyPathsAreUsedWholeForInstallProperties) {
    // A 240-character root, a 60-character subkey: the entry path and its
    // InstallProperties exceed 254 characters and still name the right key.
    const std::wstring root = L"SOFTWARE\\" + std::wstring(231, L'r');
    config = L"[UninstallPaths]\r\n" + root + L"\r\n";
    const std::wstring subkey(60, L's');
    const std::wstring props =
        AddEntry(root + L"\\" + subkey, L"InstallProperties", L"Acme AV", L"remove.exe");
    ASSERT_GT(props.size(), 254u);
    host.RemovesKey(L"remove.exe", props);
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(), std::vector<std::wstring>{L"remove.exe"});
    EXPECT_EQ(state.failureCount, 0);
}

TEST_F(ProductDiscoveryTest, TheWow6432NodeTwinsAreScannedOnA64BitSystemOnly) {
    const std::wstring k64 = AddEntry(kUninstall, L"A", L"Acme AV 64", L"remove64.exe");
    const std::wstring k32 = AddEntry(kUninstall32, L"A", L"Acme AV 32", L"remove32.exe");
    const std::wstring p32 =
        AddInstallerEntry(kUserData32, L"PACKED32", L"Acme AV msi32", L"MsiExec.exe /X{B}");
    config = L"[UninstallPaths]\r\nSOFTWARE\\VendorA\r\n";
    const std::wstring vendor = AddEntry(L"SOFTWARE\\VendorA", L"A", L"Acme AV v", L"removev.exe");
    std::vector<std::pair<std::wstring, bool>> seen;
    host.behaviours.emplace_back(L"", [&](FakeRemovalHost& h) {
        seen.emplace_back(h.launches.back().commandLine, state.scanning32BitView);
    });

    Scan(L"Acme AV");
    EXPECT_EQ(seen, (std::vector<std::pair<std::wstring, bool>>{{L"remove64.exe", false},
                                                                {L"removev.exe", false}}));
    seen.clear();
    context.is64BitSystem = true;
    Scan(L"Acme AV");
    EXPECT_EQ(seen, (std::vector<std::pair<std::wstring, bool>>{
                        {L"remove64.exe", false},
                        {L"MsiExec.exe /X{B} REMOVE=ALL REBOOT=R /qn", true},
                        {L"remove32.exe", true},
                        {L"removev.exe", false}}));
    EXPECT_FALSE(state.scanning32BitView);
}

TEST_F(ProductDiscoveryTest, BadRegistryDataIsNeverReadAsText) {
    // Values that fill the 510-byte buffer without a terminator, or are not
    // strings, read as empty: the next value name is tried.
    const struct {
        const wchar_t* what;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        bool found;  // the entry is run with "remove.exe" under the name Acme AV
    } cases[] = {
        {L"255 characters, no NUL", kRegSz, test::Utf16Bytes(L"Acme AV" + std::wstring(248, L'x')),
         false},
        {L"254 characters and NUL", kRegSz,
         EncodeRegistryString(L"Acme AV" + std::wstring(247, L'x')), true},
        {L"254 characters, no NUL", kRegSz, test::Utf16Bytes(L"Acme AV" + std::wstring(247, L'x')),
         true},
        {L"a DWORD", kRegDword, {0x41, 0, 0x63, 0}, false},
        {L"binary text", kRegBinary, EncodeRegistryString(L"Acme AV"), false},
        {L"odd byte count: the odd byte is left out", kRegSz, {0x41, 0, 0x63, 0, 0x6D}, false},
        {L"expandable string", kRegExpandSz, EncodeRegistryString(L"Acme AV"), true},
    };
    for (const auto& c : cases) {
        host.memory.DeleteKeyTree(kMachine, kUninstall);
        host.launches.clear();
        const std::wstring key = AddEntry(kUninstall, L"Acme", L"", L"remove.exe");
        host.memory.SetRaw(kMachine, key, L"DisplayName", c.type, c.data);
        Scan(L"Acme AV");
        EXPECT_EQ(host.launches.size(), c.found ? 1u : 0u)
            << std::string(std::wstring(c.what).begin(), std::wstring(c.what).end());
    }

    // A bad command value falls through to the next one.
    host.memory.DeleteKeyTree(kMachine, kUninstall);
    host.launches.clear();
    const std::wstring key = AddEntry(kUninstall, L"Acme", L"Acme AV", L"");
    host.memory.SetRaw(kMachine, key, L"QuietUninstallString", kRegSz,
                       test::Utf16Bytes(L"q" + std::wstring(254, L'q')));
    host.memory.SetRaw(kMachine, key, L"UninstallString", kRegDword, {1, 0, 0, 0});
    host.memory.SetString(kMachine, key, L"ModifyPath", L"modify.exe");
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(), std::vector<std::wstring>{L"modify.exe"});
}

TEST_F(ProductDiscoveryTest, ARootThatFailsToOpenUsesUpTheStep) {
    AddEntry(kUninstall, L"A", L"Acme AV one", L"remove-a.exe");
    AddEntry(kUninstall, L"B", L"Acme AV two", L"remove-b.exe");
    int rootOpens = 0;
    host.memory.onOpen = [&](std::wstring_view key,
                             std::wstring_view) -> std::optional<RegistryStatus> {
        if (key != kUninstall) return std::nullopt;
        // The count opens first, then the first enumeration step fails.
        if (++rootOpens == 2) return RegistryStatus::Failed;
        return std::nullopt;
    };
    Scan(L"Acme AV");
    EXPECT_EQ(Launched(), std::vector<std::wstring>{L"remove-a.exe"});
}

TEST_F(ProductDiscoveryTest, AMissingRootYieldsNothing) {
    Scan(L"Acme AV");
    context.is64BitSystem = true;
    config = L"[UninstallPaths]\r\nSOFTWARE\\Nowhere\r\n";
    Scan(L"Acme AV");
    EXPECT_TRUE(host.launches.empty());
    EXPECT_TRUE(host.log.empty());
}

}  // namespace
}  // namespace clearon

namespace clearon {
namespace {

// A per-user registration's InstallLocation is the user's own: neither
// frminst.exe nor a McAfee component's .inf is taken from it.
TEST_F(ProductDiscoveryTest, OnlyTheMachinesRegistrationsNameFolders) {
    host.environment[L"CommonProgramFiles"] = L"C:\\CPF";
    host.files = {L"C:\\CPF\\McAfee\\Installer\\mcinst.exe", L"C:\\U\\frminst.exe",
                  L"C:\\U\\\\MPF\\mpfLI.inf"};
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const struct {
        std::wstring root;
        std::wstring sid;
        bool used;
    } cases[] = {
        {kUserData, kSystem, true},
        {kUserData, user, false},
        {kUserData32, user, false},
        {kUninstall, L"", true},
    };
    for (const auto& c : cases) {
        host.memory.DeleteKeyTree(kMachine, kUserData);
        host.memory.DeleteKeyTree(kMachine, kUserData32);
        host.launches.clear();
        host.log.clear();
        const std::wstring products =
            c.sid.empty() ? kUninstall : c.root + L"\\" + c.sid + L"\\Products";
        const std::wstring key = AddEntry(products, L"P", L"McAfee Agent and Total Protection",
                                          L"C:\\W\\mcuihost.exe /u");
        host.memory.SetString(kMachine, key, L"InstallLocation", L"C:\\U\\");
        state.agentLocation.clear();
        context.is64BitSystem = c.root == kUserData32;
        Scan(L"McAfee Agent");
        context.is64BitSystem = false;
        host.memory.DeleteKeyTree(kMachine, key);
        EXPECT_EQ(state.agentLocation, c.used ? L"C:\\U\\" : L"") << c.sid;
        const std::vector<std::wstring> launched = Launched();
        const bool ranFromUserFolder =
            std::any_of(launched.begin(), launched.end(), [](const std::wstring& command) {
                return command.find(L"C:\\U\\") != std::wstring::npos;
            });
        EXPECT_EQ(ranFromUserFolder, c.used) << c.sid;
        const std::wstring skipped = L"TS" + std::wstring(kLogUserLocationSkipped) +
                                     L"McAfee Agent and Total Protection (C:\\U\\)" +
                                     std::wstring(kLogUserLocationSkippedFor) + user +
                                     std::wstring(kLogUserLocationSkippedWhy);
        EXPECT_EQ(host.log.find(skipped) != std::wstring::npos, !c.used) << host.log.size();
    }
}

TEST(PerUserRegistrationSid, OnlyUserDataRootsOfOtherSids) {
    const struct {
        std::wstring root;
        std::wstring sid;  // "" for none
    } cases[] = {
        {kUserData + L"\\S-1-5-18\\Products", L""},
        {kUserData + L"\\S-1-5-21-1-2-3-1001\\Products", L"S-1-5-21-1-2-3-1001"},
        {kUserData32 + L"\\S-1-5-21-9-1001\\products\\", L"S-1-5-21-9-1001"},
        {L"software\\microsoft\\windows\\currentversion\\installer\\userdata\\S-1-5-20\\Products",
         L"S-1-5-20"},
        {kUninstall, L""},
        {kUserData + L"\\S-1-5-21-1-2-3-1001\\Components", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PerUserRegistrationSid(c.root).value_or(L""), c.sid) << c.root.size();
    }
}

}  // namespace
}  // namespace clearon
