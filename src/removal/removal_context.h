// What the removal logic works with: the machine (through RemovalHost), the
// run's memory of the products it met, the settings and the configuration
// text. One bundle, handed down from the run to discovery, the command
// builder and the vendor removers, so none of them reaches for process-wide
// globals and all of them run in host tests.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

#include "config/settings.h"
#include "removal/removal_host.h"
#include "removal/removal_state.h"

namespace clearon {

// How long an MsiExec command that answers 1618 (another installation is in
// progress) is tried again: a pause before each new try, and the total of
// the pauses after which it counts as failed. Ten minutes is what deployment
// toolkits wait for Windows Installer; tests shorten both.
struct InstallerBusyRetry {
    std::chrono::milliseconds pause = std::chrono::seconds(15);
    std::chrono::milliseconds total = std::chrono::minutes(10);
};

struct RemovalContext {
    RemovalHost& host;
    RemovalState& state;
    const Settings& settings;
    std::wstring_view configText;  // the whole configuration, for [UninstallPaths]
    bool is64BitSystem = false;    // the Wow6432Node roots are scanned too
    InstallerBusyRetry installerBusy{};
    // Called right before Aegira's installer is started (the run registers
    // its resume there); empty where nothing is registered, as in a preview.
    std::function<void()> beforeInstaller{};
};

}  // namespace clearon
