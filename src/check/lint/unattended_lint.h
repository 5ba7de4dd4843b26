// lint --unattended: the traps of a Clearon.ini that a deployment system
// runs as SYSTEM, where no person sees a window and nobody logs on as the
// account that ran it. Pure: the configuration as Clearon reads it in,
// findings out.
#pragma once

#include <string_view>
#include <vector>

#include "check/lint/config_lint.h"
#include "config/settings.h"

namespace clearon::check {

// Every trap of an unattended run (warnings): a dialog nobody can start, a
// question answered without a person, a resume that never happens, a log
// folder ordinary users can write to, no time limit; and, as notes, what
// Clearon does by itself where nobody can see it.
// `environment` expands LogPath (SystemRoot, TEMP, PUBLIC, ...).
[[nodiscard]] std::vector<Finding> LintUnattended(std::wstring_view configText,
                                                  const Settings& settings,
                                                  const EnvironmentLookup& environment);

// The warning for a Clearon folder that others than administrators can
// change (`reason`: who may do what, as the run's check says it).
[[nodiscard]] Finding OwnFolderFinding(std::wstring_view folder, std::wstring_view reason);

}  // namespace clearon::check
