// McAfee's consumer products (the ones whose uninstall command names
// mcuihost) leave pieces behind when only their own command runs. Before it,
// each component is removed with McAfee's installer, mcinst.exe, given the
// component's .inf file and /uninstall, and VirusScan's stored uninstall
// command is run. Every command goes through UninstallProduct under the
// entry's display name, so the user is asked once for all of them.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "removal/removal_context.h"

namespace clearon {

struct McAfeeComponent {
    std::wstring_view belowInstallLocation;  // appended to the entry's InstallLocation
    std::wstring_view key64;                 // its "Install Dir", 64-bit view
    std::wstring_view key32;                 // its "Install Dir", 32-bit view
    std::wstring_view belowInstallDir;       // appended to "Install Dir"
};

// In the order they are removed; file names exactly as McAfee writes them.
inline constexpr std::array<McAfeeComponent, 10> kMcAfeeComponents{{
    {L"\\MPF\\mpfLI.inf", L"SOFTWARE\\McAfee\\MPF", L"SOFTWARE\\Wow6432Node\\McAfee\\MPF",
     L"\\mpfLI.inf"},
    {L"\\MSK\\mskli.inf", L"SOFTWARE\\McAfee\\MSK", L"SOFTWARE\\Wow6432Node\\McAfee\\MSK",
     L"\\mskli.inf"},
    {L"\\MPS\\mpsli.inf", L"SOFTWARE\\McAfee\\MPS", L"SOFTWARE\\Wow6432Node\\McAfee\\MPS",
     L"\\mpsli.inf"},
    {L"\\MQS\\mcpLi.inf", L"SOFTWARE\\McAfee\\MQS", L"SOFTWARE\\Wow6432Node\\McAfee\\MQS",
     L"\\mcpLi.inf"},
    {L"\\MHS\\mhsli.inf", L"SOFTWARE\\McAfee\\MHS", L"SOFTWARE\\Wow6432Node\\McAfee\\MHS",
     L"\\mhsli.inf"},
    {L"\\MHN\\mhnli.inf", L"SOFTWARE\\McAfee\\MHN", L"SOFTWARE\\Wow6432Node\\McAfee\\MHN",
     L"\\mhnli.inf"},
    {L"\\MSM\\msmli.inf", L"SOFTWARE\\McAfee\\MSM", L"SOFTWARE\\Wow6432Node\\McAfee\\MSM",
     L"\\msmli.inf"},
    {L"\\MWL\\mwlli.inf", L"SOFTWARE\\McAfee\\MWL", L"SOFTWARE\\Wow6432Node\\McAfee\\MWL",
     L"\\mwlli.inf"},
    {L"\\SiteAdvisor\\sa_main.inf", L"SOFTWARE\\McAfee\\SiteAdvisor",
     L"SOFTWARE\\Wow6432Node\\McAfee\\SiteAdvisor", L"\\sa_main.inf"},
    {L"\\MSC\\mscli.inf", L"SOFTWARE\\McAfee\\MSC", L"SOFTWARE\\Wow6432Node\\McAfee\\MSC",
     L"\\mscli.inf"},
}};

inline constexpr std::wstring_view kInstallDirValue = L"Install Dir";
inline constexpr std::wstring_view kCommonFilesVariable = L"CommonProgramFiles";
inline constexpr std::wstring_view kCommonFilesX86Variable = L"CommonProgramFiles(x86)";
inline constexpr std::wstring_view kMcAfeeInstallerBelowCommonFiles =
    L"\\McAfee\\Installer\\mcinst.exe";
inline constexpr std::wstring_view kVirusScanKey64 =
    L"SOFTWARE\\McAfee\\VirusScan\\InstallSettings";
inline constexpr std::wstring_view kVirusScanKey32 =
    L"SOFTWARE\\Wow6432Node\\McAfee\\VirusScan\\InstallSettings";
inline constexpr std::wstring_view kVirusScanUninstallValue = L"VS_UninstallString";
// A stored VirusScan command must be longer than this to be run.
inline constexpr std::size_t kMinVirusScanCommandAbove = 4;
inline constexpr std::wstring_view kComponentUninstallSwitch = L" /uninstall";

// "\"" + installer + "\" \"" + inf + "\" /uninstall".
[[nodiscard]] std::wstring McAfeeComponentCommand(std::wstring_view installer,
                                                  std::wstring_view infPath);

// Where a command of RemoveMcAfeeComponents comes from.
enum class McAfeeCommandSource {
    VirusScan,             // "VS_UninstallString" of one of the VirusScan keys
    BelowInstallLocation,  // a component's .inf below the entry's InstallLocation
    InstallDir64,          // a component's .inf below "Install Dir" of its 64-bit key
    InstallDir32,          // ...of its 32-bit key
};

struct McAfeeCommand {
    McAfeeCommandSource source = McAfeeCommandSource::VirusScan;
    std::wstring_view key;      // the key read, below HKEY_LOCAL_MACHINE; empty below the location
    std::size_t component = 0;  // the component's index in kMcAfeeComponents
    std::wstring infPath;       // the .inf file found (component commands)
    std::wstring command;       // as handed to UninstallProduct, before it completes it
};

// What RemoveMcAfeeComponents asks of the machine. None of it writes.
struct McAfeeLookups {
    std::function<bool(std::wstring_view path)> fileExists;
    // Nothing when the variable is undefined (or does not fit its buffer).
    std::function<std::optional<std::wstring>(std::wstring_view name)> environmentVariable;
    // Told of each candidate left out because its base folder (the
    // InstallLocation, an "Install Dir" or a common-files folder) is empty.
    std::function<void()> emptyBaseSkipped;
};

// mcinst.exe below "CommonProgramFiles", else below "CommonProgramFiles(x86)";
// nothing when neither file exists.
[[nodiscard]] std::optional<std::wstring> FindMcAfeeInstaller(const McAfeeLookups& lookups);

// Hands `visit` every command RemoveMcAfeeComponents runs for an entry whose
// InstallLocation is `installLocation`, in its order: the VirusScan commands,
// then each component's existing candidates. Each candidate is tested only
// when its turn comes, after `visit` has returned for the commands before it,
// so a visitor that runs them sees what a run sees. Nothing at all when
// mcinst.exe is missing.
void ForEachMcAfeeCommand(Registry& registry, std::wstring_view installLocation,
                          const McAfeeLookups& lookups,
                          const std::function<void(const McAfeeCommand& command)>& visit);

// Removes the components of the McAfee product `displayName`, whose
// InstallLocation is `installLocation` (empty when it has none). Does nothing
// at all when mcinst.exe is in neither common-files folder.
//
// Paths and commands are composed whole. The data model gives each a
// 255-character buffer; a longer path names a file that is then simply
// tested (and normally not found), and a command that does not fit a command
// line is refused, with a log line, by UninstallProduct: nothing is cut, so
// nothing runs on a path it was not meant for.
void RemoveMcAfeeComponents(RemovalContext& context, std::wstring_view displayName,
                            std::wstring_view installLocation);

}  // namespace clearon
