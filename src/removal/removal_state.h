// What one removal run remembers about the products it met. Part of the
// process-wide RunState; kept free of Windows types so that the decisions
// that read and write it run in host tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "removal/name_list.h"

namespace clearon {

// An entry key that was still there after its uninstaller ran, under the
// marker of its display name.
struct FailedEntry {
    std::wstring marker;
    std::wstring key;
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
    // The end of the session stopped the programs (logged once).
    bool programsStopped = false;
};

}  // namespace clearon
