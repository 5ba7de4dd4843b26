// The uninstall command builder's pure part: how a stored uninstall command
// is completed into an unattended one for its kind of uninstaller, and the
// texts that go with a removal (the question, the status line, the log
// lines). No Windows, no I/O: UninstallProduct (uninstall_product.h) does
// the asking, logging and running around these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "removal/command_line.h"

namespace clearon {

// A completed command must fit what the program runner accepts:
// kMaxCommandLength (511) characters.

// Kinds of uninstaller, recognised anywhere in the command, any case.
inline constexpr std::wstring_view kKindNtrmv = L"ntrmv.exe";
inline constexpr std::wstring_view kKindInnoSetup = L"unins000.exe";
inline constexpr std::wstring_view kKindMsiExec = L"MsiExec";
inline constexpr std::wstring_view kKindInstallShield = L"InstallShield";
inline constexpr std::wstring_view kKindInstallShieldDriver = L"IDriver.exe";

// Switches each kind receives.
inline constexpr std::wstring_view kNtrmvSilent = L" -331";
inline constexpr std::wstring_view kInnoSetupSilent = L" /SP- /VERYSILENT";
inline constexpr std::wstring_view kInnoSetupNoRestart = L" /NORESTART";
inline constexpr std::wstring_view kMsiRemoveAll = L" REMOVE=ALL REBOOT=R";
inline constexpr std::wstring_view kMsiQuiet = L" /qn";
inline constexpr std::wstring_view kInstallShieldRemove = L" /x /removeonly /uninst /w /clone_wait";
inline constexpr std::wstring_view kInstallShieldSilent =
    L" /s /h /z /hide_progress /hide_splash /hide_usd /v\"REMOVE=ALL REBOOT=R /qn\"";
inline constexpr std::wstring_view kInstallShieldPlain = L" /v\"REMOVE=ALL REBOOT=R\"";

// Completes `command` by the uninstaller table. Every row is tested on the
// command as the rows before it left it, and every row that holds applies:
//   1. "ntrmv.exe": " -331" when silent.
//   2. "unins000.exe": " /SP- /VERYSILENT" when silent, then " /NORESTART".
//   3. "MsiExec": each i/I right after a "/" becomes X (install or repair
//      becomes removal), then " REMOVE=ALL REBOOT=R", " /qn" when silent,
//      and MSIExtraParameters.
//   4. "InstallShield" or "IDriver.exe": the InstallShield switches, silent
//      or not, and InstallShieldExtraParameters.
//   5. When neither 3 nor 4 applied: DefaultExtraParameters.
// The result may be longer than a command line may be; the caller checks
// with FitsCommandLine before it runs anything.
[[nodiscard]] std::wstring CompleteUninstallCommand(std::wstring_view command,
                                                    const Settings& settings);

// Does the command fit the 512-character command buffer? A longer command is
// never cut: a cut command could run a different program or drop the very
// switch that keeps it silent or keeps the machine from restarting.
[[nodiscard]] constexpr bool FitsCommandLine(std::wstring_view command) noexcept {
    return command.size() <= kMaxCommandLength;
}

// The text of the "Question" box. The data model gives it 512 characters;
// with a display name of more than about 200 characters it is longer, and it
// is then shown whole: it is only read by a person, and MessageBoxW takes any
// length, so cutting it would only hide the product's name.
[[nodiscard]] std::wstring QuestionText(std::wstring_view displayName);
inline constexpr std::wstring_view kQuestionCompatibility =
    L" may not be compatible with Aegira.  It is recommended to remove this product.  ";
inline constexpr std::wstring_view kQuestionAreYouSure = L"Are you sure you want to remove ";
inline constexpr std::wstring_view kQuestionEnd = L"?";

// "Uninstalling " + display name + " . . ." (PostStatus keeps 254 characters
// of it; it is only shown).
[[nodiscard]] std::wstring UninstallingStatus(std::wstring_view displayName);
inline constexpr std::wstring_view kStatusUninstalling = L"Uninstalling ";
inline constexpr std::wstring_view kStatusEllipsis = L" . . .";
inline constexpr std::wstring_view kStatusSearching = L"Searching . . .";

// Windows Installer's "another installation is in progress": an MsiExec
// command that ends with it is tried again (see InstallerBusyRetry).
inline constexpr std::uint32_t kExitInstallerBusy = 1618;

// The removal notice is shown while CA eTrust's uninstaller runs.
inline constexpr std::wstring_view kNoticeProduct = L"CA eTrust";

// The McAfee Agent is finally removed by its own frminst.exe, found in the
// folder the discovery stored as the agent's location.
inline constexpr std::wstring_view kAgentProduct = L"McAfee Agent";
inline constexpr std::wstring_view kAgentRemover = L"frminst.exe";
inline constexpr std::wstring_view kAgentForce = L" /forceuninstall";
inline constexpr std::wstring_view kAgentSilent = L" /silent";

// agentLocation + "frminst.exe": the location is used as stored, without a
// separator, as McAfee writes it with its closing backslash.
[[nodiscard]] std::wstring AgentRemoverPath(std::wstring_view agentLocation);
// "\"" + path + "\" /forceuninstall", and " /silent" when silent.
[[nodiscard]] std::wstring AgentRemoverCommand(std::wstring_view agentLocation, bool silent);

}  // namespace clearon
