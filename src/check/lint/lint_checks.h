// The checks of ClearonCheck lint, each over one kind of line. They add
// their findings to the context in file order; LintConfigBytes runs them in
// the order listed here (later checks read what earlier ones noted: the
// switch lines from the section walk, the lines of MessageBoxText and
// LogPath from the [Settings] strings).
#pragma once

#include "check/lint/lint_context.h"

namespace clearon::check {

// lint_layout.cpp: line ends, and the section headers as each reader sees
// them (fills switchLines).
void LintLineEnds(LintContext& lint);
void LintSections(LintContext& lint);

// lint_switches.cpp: the Y/N switches as the settings scan applies them.
void LintSwitches(LintContext& lint);

// lint_values.cpp: the [Settings] strings and unknown lines (fills
// messageBoxLine and logPathLine).
void LintSettingsEntries(LintContext& lint);

// lint_programs.cpp: the RunBeforeRemoval and RunAfterRemoval lines.
void LintProgramLines(LintContext& lint);

// lint_products.cpp: [ProductNames] and [UninstallPaths].
void LintProductNames(LintContext& lint);
void LintUninstallPaths(LintContext& lint);

// lint_switches.cpp: how the switches combine for a run.
void LintRunMode(LintContext& lint);

// lint_values.cpp: where the run log goes.
void LintLogPath(LintContext& lint);

}  // namespace clearon::check
