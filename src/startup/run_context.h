// What the run shares above the platform: the settings, the configuration
// text and the removal's state. Only the start-up reads these; it hands each
// lower part what it needs (a flag, a path, a window, a context).
#pragma once

#include <string>

#include "config/settings.h"
#include "removal/removal_state.h"

namespace clearon {

// One instance each, for the life of the process.
inline Settings g_settings;
// The whole configuration file as text, written once by the loader.
inline std::wstring g_configText;
// The removal's lists and counters, kept across the runs of one process.
inline RemovalState g_removalState;

}  // namespace clearon
