// The real products the Windows tests install into the prefix and remove
// again: the Windows Installer package of tests/fixtures/zebratech_antivirus.wxs,
// the NSIS product of tests/fixtures/quokka_shield.nsi (whose uninstaller
// relaunches itself from a temporary copy), and products played by the
// scriptable test uninstaller. Each function leaves the machine as it found
// it when asked to clean up, whatever a failed test did.
#pragma once

#include <string>

namespace clearon::test {

inline const std::wstring kUninstallKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The Windows Installer package.
inline const std::wstring kMsiName = L"Zebratech Antivirus Test";
inline const std::wstring kMsiCode = L"{5E7A2B11-3C4D-4E5F-8A9B-0C1D2E3F4A5B}";
// The installer's packed form of the product code: each group reversed,
// then the last two groups byte by byte.
inline const std::wstring kMsiPacked = L"11B2A7E5D4C3F5E4A8B9C0D1E2F3A4B5";
inline const std::wstring kMsiProperties =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\" +
    kMsiPacked + L"\\InstallProperties";
inline const std::wstring kMsiEntry = kUninstallKey + L"\\" + kMsiCode;

// The NSIS product.
inline const std::wstring kNsisName = L"Quokka Shield Test";
inline const std::wstring kNsisEntry = kUninstallKey + L"\\QuokkaShieldTest";

// Installs the package with msiexec /qn and checks that it registered under
// both the Uninstall key and the installer's UserData (gtest assertions).
void InstallMsiProduct();
// Removes the package if its Uninstall entry is there.
void RemoveMsiProductQuietly();

// Runs the NSIS setup silently and checks its Uninstall entry.
void InstallNsisProduct();
// Forgets the NSIS product's entry (its files may stay behind).
void RemoveNsisProductQuietly();

// The test uninstaller's command, quoted, followed by `actions`.
std::wstring TestUninstallerCommand(const std::wstring& actions);

// A product played by the test uninstaller: an Uninstall subkey `subkey`
// (below HKLM's Uninstall key) with DisplayName `displayName` and an
// UninstallString that runs the test uninstaller with `actions`. With
// `removesItself`, a /delete-key of its own entry comes first, so the product
// is really gone when its uninstaller has run; without it the entry stays and
// the removal fails.
void RegisterScriptedProduct(const std::wstring& subkey, const std::wstring& displayName,
                             bool removesItself, const std::wstring& actions = L"");
// The full path below HKLM of a scripted product's entry.
std::wstring ScriptedProductEntry(const std::wstring& subkey);

}  // namespace clearon::test
