// What one removal run remembers about the products it met. Part of the
// process-wide RunState; kept free of Windows types so that the decisions
// that read and write it run in host tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "removal/name_list.h"
#include "removal/run_outcome.h"

namespace clearon {

// An entry key that was still there after its uninstaller ran, under the
// marker of its display name.
struct FailedEntry {
    std::wstring marker;
    std::wstring key;
    // Its uninstaller answered 1618 last: Windows Installer was busy.
    bool installerBusy = false;
};

struct RemovalState {
    // Markers "|" + display name + "|"; membership compares whole markers and
    // ignores the case of A-Z. These grow as needed: the 65,535-character
    // capacity of the data model is never a reason to forget a product.
    NameList declinedList;   // answered No this run
    NameList confirmedList;  // answered Yes this run
    NameList failedList;     // entry stayed after its uninstaller (whole process)
    std::int32_t failureCount = 0;
    // Entries found gone after their own uninstaller ran (whole process).
    std::int32_t removedCount = 0;
    // The entry keys behind the count: a name stops counting only when every
    // entry that failed under it is gone (whole process).
    std::vector<FailedEntry> failedEntries;
    std::wstring agentLocation;  // "InstallLocation" of the last McAfee Agent entry
    bool securityCenterSeen = false;
    bool securityCenterPass = false;
    bool scanning32BitView = false;
    bool installerLaunched = false;
    // Aegira's installer as the run's outcome sees it: the last one run.
    InstallerFact installer = InstallerFact::None;
    std::uint32_t installerExitCode = 0;
    // The exit code of the uninstaller run last, when it ended with one.
    std::optional<std::uint32_t> lastUninstallerExitCode;
    // The reboot decision registered the resume (whole process).
    bool resumeRegistered = false;
    // The end of the session stopped the programs (logged once).
    bool programsStopped = false;
};

}  // namespace clearon
