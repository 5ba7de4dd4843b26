#include "support/win/fixture_products.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/win/wine_test_support.h"

namespace clearon::test {

using namespace std::chrono_literals;

void InstallMsiProduct() {
    const auto result = RunAndWait(
        L"msiexec.exe /i \"" + TestProgramPath(L"zebratech_antivirus.msi") + L"\" /qn", L"", 120s);
    ASSERT_TRUE(result.exitCode.has_value()) << "msiexec /i did not end in time";
    ASSERT_EQ(*result.exitCode, 0u);
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMsiEntry));
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMsiProperties));
    ASSERT_EQ(GetString(HKEY_LOCAL_MACHINE, kMsiProperties, L"DisplayName"), kMsiName);
}

void RemoveMsiProductQuietly() {
    if (!KeyExists(HKEY_LOCAL_MACHINE, kMsiEntry)) return;
    static_cast<void>(RunAndWait(L"msiexec.exe /x " + kMsiCode + L" /qn", L"", 120s));
}

void InstallNsisProduct() {
    RemoveNsisProductQuietly();
    const auto result =
        RunAndWait(L"\"" + TestProgramPath(L"quokka_shield_setup.exe") + L"\" /S", L"", 120s);
    ASSERT_TRUE(result.exitCode.has_value()) << "the NSIS setup did not end in time";
    ASSERT_EQ(*result.exitCode, 0u);
    ASSERT_EQ(GetString(HKEY_LOCAL_MACHINE, kNsisEntry, L"DisplayName"), kNsisName);
    ASSERT_TRUE(GetString(HKEY_LOCAL_MACHINE, kNsisEntry, L"UninstallString").has_value());
}

void RemoveNsisProductQuietly() {
    DeleteTree(HKEY_LOCAL_MACHINE, kNsisEntry);
}

std::wstring TestUninstallerCommand(const std::wstring& actions) {
    std::wstring command = L"\"" + TestProgramPath(L"test_uninstaller.exe") + L"\"";
    if (!actions.empty()) command += L" " + actions;
    return command;
}

std::wstring ScriptedProductEntry(const std::wstring& subkey) {
    return kUninstallKey + L"\\" + subkey;
}

void RegisterScriptedProduct(const std::wstring& subkey, const std::wstring& displayName,
                             bool removesItself, const std::wstring& actions) {
    const std::wstring entry = ScriptedProductEntry(subkey);
    std::wstring script = removesItself ? L"/delete-key=HKLM\\" + entry : L"";
    if (!actions.empty()) script += (script.empty() ? L"" : L" ") + actions;
    SetString(HKEY_LOCAL_MACHINE, entry, L"DisplayName", displayName);
    SetString(HKEY_LOCAL_MACHINE, entry, L"UninstallString", TestUninstallerCommand(script));
}

}  // namespace clearon::test
