// Product discovery: finds the installed products whose display name
// contains a configured product name and hands each to UninstallProduct,
// then looks the entry up again to judge the removal. The registry is the
// only judge: an entry still there after its uninstaller has run is logged
// and counted as not removed, whatever the uninstaller's exit code said.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_lines.h"
#include "platform/registry.h"

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

// The only account whose registrations may name a folder Clearon runs
// programs from (kLogUserLocationSkipped).
inline constexpr std::wstring_view kMachineSid = L"S-1-5-18";

// A product name shorter than this finds nothing (counted up to 255).
inline constexpr std::size_t kMinProductNameLength = 5;
inline constexpr std::size_t kProductNameBound = 255;
// Capacity given to the subkey enumeration (RegEnumKeyExW), in characters.
inline constexpr std::size_t kSubkeyNameCapacity = 255;

// --- The steps of a scan, shared with read-only previews -------------------

// A product name shorter than kMinProductNameLength (counted up to 255)
// never reaches ScanUninstallKey.
[[nodiscard]] bool IsScannableProductName(std::wstring_view productName) noexcept;

// The roots ScanForProduct walks before the [UninstallPaths] roots, in order.
// `view32Bit` marks the Wow6432Node roots, during whose scan commands are
// redirected to the 32-bit system directory.
struct DiscoveryRoot {
    std::wstring_view path;
    bool installerData = false;  // per-user "\Products" keys below it (ScanInstallerUserData)
    bool view32Bit = false;
};
[[nodiscard]] std::vector<DiscoveryRoot> StandardDiscoveryRoots(bool is64BitSystem);

// Every [UninstallPaths] line that names a root: lines that are empty or
// comments are left out; lines too long for the line buffer come with
// tooLong set and are never scanned.
void ForEachUninstallPath(std::wstring_view config,
                          const std::function<void(const SectionEntry& entry)>& visit);

// The SID of a per-user Windows Installer registration: `rootPath` is
// "...\Installer\UserData\<SID>\Products" (any case, any view, an
// [UninstallPaths] line too) with a SID other than the machine's. Nothing
// for the machine's registrations and for every other root.
[[nodiscard]] std::optional<std::wstring> PerUserRegistrationSid(std::wstring_view rootPath);

// root path + "" + user SID + "\Products"
[[nodiscard]] std::wstring UserProductsKey(std::wstring_view rootPath, std::wstring_view userSid);

// Walks the subkeys of `rootPath` under HKEY_LOCAL_MACHINE: every name is
// read first (opening the root afresh for every step), then each is
// processed, so an entry deleted by an uninstaller never hides the next one.
void ForEachRootSubkey(Registry& registry, std::wstring_view rootPath,
                       const std::function<void(const std::wstring& subkey)>& process);

// The candidate keys of one subkey: the entry key itself, then its
// "\InstallProperties" subkey when that exists (tested after the entry key
// has been handled, since handling it may remove both).
void ForEachCandidateKey(Registry& registry, std::wstring_view rootPath, std::wstring_view subkey,
                         const std::function<void(const std::wstring& candidateKey)>& examine);

// The first display-name value of a candidate that reads as a non-empty
// string; empty when there is none.
[[nodiscard]] std::wstring ReadDisplayName(Registry& registry, std::wstring_view candidateKey);

enum class CandidateMatch {
    Matches,
    NoDisplayName,  // passed over silently
    OtherProduct,   // the display name does not contain the product name
    MakersOwn,      // the maker's own product, while RemoveTessaral is off
};
[[nodiscard]] CandidateMatch MatchCandidate(std::wstring_view displayName,
                                            std::wstring_view productName,
                                            bool removeTessaral) noexcept;

// The stored uninstall command of a matching candidate: the first uninstall
// value in the order SilentMSIInstaller selects, else "MsiExec.exe /I" + the
// subkey name when that begins with "{". An empty command means the entry is
// passed over, unless tooLong says a command was there but did not fit.
struct UninstallCommandChoice {
    std::wstring command;
    std::wstring_view valueName;  // where it came from; empty for the product-code fallback
    bool tooLong = false;         // no command, and an uninstall value did not fit its buffer
};
[[nodiscard]] UninstallCommandChoice ChooseUninstallCommand(Registry& registry,
                                                            std::wstring_view candidateKey,
                                                            std::wstring_view subkeyName,
                                                            bool silentMsiInstaller);

// "McAfee SecurityCenter" entries wait for the final pass.
[[nodiscard]] bool DefersSecurityCenter(std::wstring_view displayName,
                                        bool securityCenterPass) noexcept;

// --- The scan ---------------------------------------------------------------

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
