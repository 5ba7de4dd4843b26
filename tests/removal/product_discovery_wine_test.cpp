// Product discovery on the real registry with real uninstallers: a Windows
// Installer package, an NSIS product whose uninstaller relaunches itself, the
// "Question" box answered as a person would, and a test uninstaller that
// leaves its entry behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "platform/handles.h"
#include "platform/platform_info.h"
#include "removal/product_discovery.h"
#include "startup/windows_removal_host.h"
#include "platform/run_state.h"
#include "startup/run_context.h"
#include "support/win/fixture_products.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

const std::wstring kUninstallKey32 =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Entries played by the test uninstaller.
const std::wstring kLeftEntry = kUninstallKey + L"\\ClearonDiscoveryWombatLeft";
const std::wstring kGoneEntry32 = kUninstallKey32 + L"\\ClearonDiscoveryWombatGone";
const std::wstring kBadEntries[] = {kUninstallKey + L"\\ClearonDiscoveryBadName1",
                                    kUninstallKey + L"\\ClearonDiscoveryBadName2"};

size_t Count(const std::wstring& text, const std::wstring& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::wstring::npos; at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

// Raw bytes as a value, to write what a careless installer writes.
void SetRawValue(const std::wstring& key, const std::wstring& value, DWORD type,
                 const std::vector<BYTE>& data) {
    UniqueKey handle;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, handle.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(handle.get(), value.c_str(), 0, type, data.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
}

class ProductDiscoveryWine : public ::testing::Test {
protected:
    ScratchDir dir{L"discovery"};
    WindowsRemovalHost host;
    RemovalContext context{host, g_removalState, g_settings, g_configText, true};

    void SetUp() override {
        WipeKeys();
        g_settings = Settings{};
        g_runState.loggingEnabled = true;
        g_settings.AskBeforeRemoval = false;
        g_removalState = RemovalState{};
        g_runState.logFilePath = dir / L"run.log";
        g_runState.exeDirectory = dir.path();
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        g_runState.systemDirectory = system;
        wchar_t wow64[MAX_PATH] = {};
        GetSystemWow64DirectoryW(wow64, MAX_PATH);
        g_runState.wow64SystemDirectory = wow64;
        g_configText.clear();
        context.configText = g_configText;
    }
    void TearDown() override {
        WipeKeys();
        SetCurrentDirectoryW(dir.path().c_str());
    }
    static void WipeKeys() {
        for (const auto& key : {kLeftEntry, kGoneEntry32, kBadEntries[0], kBadEntries[1]}) {
            DeleteTree(HKEY_LOCAL_MACHINE, key);
        }
    }
    std::wstring Log() const { return ReadUtf16File(dir / L"run.log"); }

    // The real products live in support/win/fixture_products.h.
    static void InstallMsi() { InstallMsiProduct(); }
    // Leaves no installed package behind, whatever a failed test did.
    static void UninstallMsiQuietly() { RemoveMsiProductQuietly(); }
};

TEST_F(ProductDiscoveryWine, MsiProductIsFoundInInstallerDataAskedAboutAndRemoved) {
    UninstallMsiQuietly();
    InstallMsi();
    g_settings.AskBeforeRemoval = true;
    std::atomic<int> asked{0};
    std::vector<std::wstring> seen;
    {
        BoxAnswerer answerer(L"Question", [&](const std::wstring&) {
            return ++asked == 1 ? std::wstring(L"No") : std::wstring(L"Yes");
        });
        // First answer No: nothing runs, nothing is judged.
        ScanInstallerUserData(context, kInstallerUserDataRoot, L"zebratech antivirus");
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMsiProperties));
        EXPECT_EQ(Count(Log(), L" User chose not to remove: " + kMsiName + L"\r\n"), 1u);
        EXPECT_EQ(Count(Log(), L" Attempting to run: "), 0u);

        // A new run forgets the answer; this time Yes.
        g_removalState.declinedList.clear();
        ScanInstallerUserData(context, kInstallerUserDataRoot, L"zebratech antivirus");
        seen = answerer.Seen();
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].find(kMsiName + L" may not be compatible with Aegira."), std::wstring::npos)
        << Narrow(seen[0]);
    EXPECT_NE(seen[0].find(L"Are you sure you want to remove " + kMsiName + L"?"),
              std::wstring::npos);

    const std::wstring log = Log();
    EXPECT_EQ(Count(log, L" Removing: " + kMsiName + L"\r\n"), 1u);
    EXPECT_EQ(Count(log, L" Attempting to run: " + SystemDirectory() + L"\\MsiExec.exe /X" +
                             kMsiCode + L" REMOVE=ALL REBOOT=R /qn\r\n"),
              1u)
        << Narrow(log);
    EXPECT_EQ(Count(log, L" Failed to remove "), 0u);
    EXPECT_EQ(g_removalState.failureCount, 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsiProperties));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsiEntry));
    UninstallMsiQuietly();
}

TEST_F(ProductDiscoveryWine, MsiProductIsFoundUnderTheUninstallKeyAndRemovedOnce) {
    UninstallMsiQuietly();
    InstallMsi();
    ScanUninstallKey(context, kUninstallRoot, kMsiName);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsiEntry));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsiProperties));
    // A full scan afterwards finds nothing left to do.
    ScanForProduct(context, kMsiName);
    const std::wstring log = Log();
    EXPECT_EQ(Count(log, L" Attempting to run: " + SystemDirectory() + L"\\MsiExec.exe /X" +
                             kMsiCode + L" REMOVE=ALL REBOOT=R /qn\r\n"),
              1u)
        << Narrow(log);
    EXPECT_EQ(Count(log, L" Exit code: 0\r\n"), 1u);
    EXPECT_EQ(Count(log, L" Failed to remove "), 0u);
    EXPECT_EQ(g_removalState.failureCount, 0);
    UninstallMsiQuietly();
}

TEST_F(ProductDiscoveryWine, NsisUninstallerThatRelaunchesItselfIsWaitedFor) {
    ASSERT_NO_FATAL_FAILURE(InstallNsisProduct());
    const auto uninstaller = GetString(HKEY_LOCAL_MACHINE, kNsisEntry, L"UninstallString");
    ASSERT_TRUE(uninstaller.has_value());

    // An administrator makes unknown uninstallers silent through the default
    // parameters.
    g_settings.DefaultExtraParameters = L"/S";
    const auto started = std::chrono::steady_clock::now();
    ScanForProduct(context, L"Quokka Shield");
    const auto took = std::chrono::steady_clock::now() - started;

    const std::wstring log = Log();
    EXPECT_EQ(Count(log, L" Removing: " + kNsisName + L"\r\n"), 1u);
    // The stored path has blanks and no quotes; the runner quotes it.
    EXPECT_EQ(Count(log, L" Attempting to run: \"" + *uninstaller + L"\" /S\r\n"), 1u)
        << Narrow(log);
    EXPECT_EQ(Count(log, L" Failed to remove "), 0u) << Narrow(log);
    EXPECT_EQ(g_removalState.failureCount, 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kNsisEntry));
    EXPECT_GE(took, 2500ms) << "the runner waited for the relaunched copy";
    DeleteTree(HKEY_LOCAL_MACHINE, kNsisEntry);
}

TEST_F(ProductDiscoveryWine, AnEntryLeftBehindIsCountedAndA32BitEntryIsRemoved) {
    const std::wstring program = L"\"" + TestProgramPath(L"test_uninstaller.exe") + L"\"";
    SetString(HKEY_LOCAL_MACHINE, kLeftEntry, L"DisplayName", L"Wombat Guard Test");
    SetString(HKEY_LOCAL_MACHINE, kLeftEntry, L"UninstallString", program + L" /exit=3");
    SetString(HKEY_LOCAL_MACHINE, kGoneEntry32, L"DisplayName", L"Wombat Guard Test 32");
    SetString(HKEY_LOCAL_MACHINE, kGoneEntry32, L"UninstallString",
              program + L" /delete-key=HKLM\\" + kGoneEntry32);

    ScanForProduct(context, L"Wombat Guard");
    const std::wstring log = Log();
    EXPECT_EQ(Count(log, L" Removing: Wombat Guard Test\r\n"), 1u);
    EXPECT_EQ(Count(log, L" Removing: Wombat Guard Test 32\r\n"), 1u);
    EXPECT_EQ(Count(log, L" Exit code: 3\r\n"), 1u);
    EXPECT_EQ(Count(log, L" Failed to remove Wombat Guard Test\r\n"), 1u) << Narrow(log);
    EXPECT_EQ(Count(log, L" Failed to remove "), 1u);
    EXPECT_EQ(g_removalState.failureCount, 1);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kLeftEntry));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kGoneEntry32));
    EXPECT_FALSE(g_removalState.scanning32BitView);

    // Met again: one more line, still counted once.
    ScanForProduct(context, L"Wombat Guard Test");
    EXPECT_EQ(Count(Log(), L" Failed to remove Wombat Guard Test\r\n"), 2u);
    EXPECT_EQ(g_removalState.failureCount, 1);
}

TEST_F(ProductDiscoveryWine, UnterminatedAndNonStringDisplayNamesArePassedOver) {
    const std::wstring program = L"\"" + TestProgramPath(L"test_uninstaller.exe") + L"\"";
    // 255 characters without a terminator: exactly the 510-byte buffer.
    std::vector<BYTE> unterminated;
    const std::wstring text = L"Numbat Filter Test" + std::wstring(255 - 18, L'x');
    for (wchar_t c : text) {
        unterminated.push_back(static_cast<BYTE>(c & 0xFF));
        unterminated.push_back(static_cast<BYTE>(c >> 8));
    }
    ASSERT_EQ(unterminated.size(), 510u);
    SetRawValue(kBadEntries[0], L"DisplayName", REG_SZ, unterminated);
    SetString(HKEY_LOCAL_MACHINE, kBadEntries[0], L"UninstallString", program + L" /exit=0");
    // Text stored as binary data is no display name either.
    std::vector<BYTE> binary;
    for (wchar_t c : std::wstring(L"Numbat Filter Test")) {
        binary.push_back(static_cast<BYTE>(c & 0xFF));
        binary.push_back(static_cast<BYTE>(c >> 8));
    }
    binary.push_back(0);
    binary.push_back(0);
    SetRawValue(kBadEntries[1], L"DisplayName", REG_BINARY, binary);
    SetString(HKEY_LOCAL_MACHINE, kBadEntries[1], L"UninstallString", program + L" /exit=0");

    ScanForProduct(context, L"Numbat Filter");
    EXPECT_EQ(Count(Log(), L" Removing: "), 0u) << Narrow(Log());

    // The same entry with a proper 254-character name is found.
    SetString(HKEY_LOCAL_MACHINE, kBadEntries[0], L"DisplayName", text.substr(0, 254));
    ScanForProduct(context, L"Numbat Filter");
    EXPECT_EQ(Count(Log(), L" Removing: Numbat Filter Test"), 1u);
}

TEST(WindowsRemovalHostWine, EnvironmentValuesThatDoNotFitAreUndefinedNotCut) {
    WindowsRemovalHost host;
    const std::wstring fits(254, L'f');
    const std::wstring tooLong(255, L't');
    ASSERT_TRUE(SetEnvironmentVariableW(L"CLEARON_TEST_FITS", fits.c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"CLEARON_TEST_TOO_LONG", tooLong.c_str()));
    EXPECT_EQ(host.EnvironmentVariable(L"CLEARON_TEST_FITS"), fits);
    EXPECT_EQ(host.EnvironmentVariable(L"CLEARON_TEST_TOO_LONG"), std::nullopt);
    EXPECT_EQ(host.EnvironmentVariable(L"CLEARON_TEST_NOT_DEFINED"), std::nullopt);
    SetEnvironmentVariableW(L"CLEARON_TEST_FITS", nullptr);
    SetEnvironmentVariableW(L"CLEARON_TEST_TOO_LONG", nullptr);

    ScratchDir dir{L"host-files"};
    WriteAnsi(dir / L"present.txt", "x");
    EXPECT_TRUE(host.FileExists(dir / L"present.txt"));
    EXPECT_FALSE(host.FileExists(dir / L"absent.txt"));
}

}  // namespace
}  // namespace clearon::test
