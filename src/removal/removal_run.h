// One whole removal run, from the programs that run before the removal to
// the final status text: the body of the worker thread, kept free of Windows
// so that its order can be checked in host tests. The run never stops early:
// every phase is attempted, and each copes with its own failures.
#pragma once

#include <string_view>

#include "removal/removal_context.h"
#include "removal/uninstall_command.h"  // kStatusSearching
#include "resume/resume_host.h"

namespace clearon {

inline constexpr std::wstring_view kStatusRunningBefore = L"Running programs before removal . . .";
inline constexpr std::wstring_view kStatusCompleted = L"Clearon has completed successfully.";
inline constexpr std::wstring_view kStatusCompletedReboot =
    L"Clearon has completed successfully.\r\nPlease reboot your system to continue.";

inline constexpr std::wstring_view kProventiaProduct = L"Proventia Desktop";
inline constexpr std::wstring_view kProventiaKey = L"SOFTWARE\\ISS\\Proventia Desktop";
inline constexpr std::wstring_view kProventiaInstallDirValue = L"InstallDir";
inline constexpr std::wstring_view kProventiaRemover = L"\\AgentRemove.exe";

// Does this [ProductNames] line call for the Proventia Desktop check? It does
// when the line is "Proventia Desktop" or any piece of it, in any case (an
// empty line too).
[[nodiscard]] bool TriggersProventiaCheck(std::wstring_view productName) noexcept;

// The decisions of a run, in its order: before-programs, every
// [ProductNames] line through discovery (with the Proventia Desktop check),
// the deferred McAfee SecurityCenter pass, after-programs. Everything it
// does to the machine goes through the context's host, so ClearonCheck's
// preview runs the very same sequence over a host that records instead of
// acting.
void RunRemovalSteps(RemovalContext& context, std::wstring_view savedArguments);

// Runs one removal run: before-programs, every [ProductNames] line through
// discovery (with the Proventia Desktop check), the deferred McAfee
// SecurityCenter pass, after-programs, the reboot decision and the restore
// of the pending file renames, then the final status text when `showGui`.
// RunRemovalSteps is all of it up to the reboot decision.
// Returns what the reboot decision returned: true when the resume command
// was registered and the machine must be restarted.
bool RunRemoval(RemovalContext& context, ResumeHost& resumeHost, std::wstring_view savedArguments,
                bool showGui);

}  // namespace clearon
