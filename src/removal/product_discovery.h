// Product discovery: finds the installed products whose display name
// contains a configured product name and hands each to UninstallProduct,
// then looks the entry up again to judge the removal. The registry is the
// only judge: an entry still there after its uninstaller has run is logged
// and counted as not removed, whatever the uninstaller's exit code said.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "removal/removal_context.h"

namespace clearon {

// Roots under HKEY_LOCAL_MACHINE. Clearon is a 64-bit process and opens keys
// without a view flag, so these plain paths are the 64-bit view and the
// Wow6432Node paths the 32-bit one.
inline constexpr std::wstring_view kInstallerUserDataRoot =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
inline constexpr std::wstring_view kUninstallRoot =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::wstring_view kInstallerUserDataRoot32 =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
inline constexpr std::wstring_view kUninstallRoot32 =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

inline constexpr std::wstring_view kProductsBelowUser = L"\\Products";
inline constexpr std::wstring_view kInstallPropertiesBelowEntry = L"\\InstallProperties";

// Value names, in the order they are tried.
inline constexpr std::array<std::wstring_view, 4> kDisplayNameValues{
    L"DisplayName", L"ProductName", L"Display Name", L"Product Name"};
inline constexpr std::array<std::wstring_view, 5> kUninstallValuesSilent{
    L"QuietUninstallString", L"UninstallString", L"Uninstall String", L"UninstallCommand",
    L"ModifyPath"};
inline constexpr std::array<std::wstring_view, 5> kUninstallValuesPlain{
    L"UninstallString", L"Uninstall String", L"UninstallCommand", L"ModifyPath",
    L"QuietUninstallString"};
inline constexpr std::wstring_view kInstallLocationValue = L"InstallLocation";

// The maker's own products are left alone unless RemoveTessaral is set.
inline constexpr std::wstring_view kMakerName = L"Tessaral";
// Removed only in the final pass, after every other product.
inline constexpr std::wstring_view kSecurityCenterProduct = L"McAfee SecurityCenter";
inline constexpr std::wstring_view kMcAfeeName = L"McAfee";
inline constexpr std::wstring_view kMcAfeeUiHost = L"mcuihost";
// An entry named by its product code without a stored command is a Windows
// Installer product; /I becomes /X when the command is completed.
inline constexpr std::wstring_view kProductCodeStart = L"{";
inline constexpr std::wstring_view kMsiFallbackCommand = L"MsiExec.exe /I";

inline constexpr std::wstring_view kLogFailedToRemove = L" Failed to remove ";
inline constexpr std::wstring_view kLogUninstallPathTooLong =
    L" Skipping an [UninstallPaths] line longer than 254 characters.\r\n";

// A product name shorter than this finds nothing (counted up to 255).
inline constexpr std::size_t kMinProductNameLength = 5;
inline constexpr std::size_t kProductNameBound = 255;
// Capacity given to the subkey enumeration (RegEnumKeyExW), in characters.
inline constexpr std::size_t kSubkeyNameCapacity = 255;

// The whole discovery for one product name: the installer data and the
// Uninstall key, their Wow6432Node twins on a 64-bit Windows (with
// scanning32BitView set exactly while those two run), then the
// [UninstallPaths] roots.
void ScanForProduct(RemovalContext& context, std::wstring_view productName);

// Every user SID under `rootPath`: its "\Products" key is scanned like an
// Uninstall root.
void ScanInstallerUserData(RemovalContext& context, std::wstring_view rootPath,
                           std::wstring_view productName);

// Every subkey of `rootPath`, and its "\InstallProperties" subkey, whose
// display name contains `productName` is removed and verified.
void ScanUninstallKey(RemovalContext& context, std::wstring_view rootPath,
                      std::wstring_view productName);

// Every key path listed in [UninstallPaths] is scanned with ScanUninstallKey.
void RunUninstallPaths(RemovalContext& context, std::wstring_view productName);

}  // namespace clearon
