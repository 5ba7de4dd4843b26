// What a deployment system should make of one Clearon run: the run as its
// log tells it (and, for the launcher, Clearon's own exit code) turned into
// the facts that Clearon's own decision (removal/run_outcome.h) maps to the
// exit codes that Intune, Configuration Manager and Group Policy understand.
// Only the log decides: the registry alone cannot tell a restart that is
// needed from an installer that never ran.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "check/logs/log_report.h"
#include "removal/run_outcome.h"

namespace clearon::check {

// Aegira's installer in a logged command line: Clearon runs an after-removal
// command as the installer when it names a setup program without any folder;
// in the log Clearon's own arguments follow it, so only the program is
// looked at.
[[nodiscard]] bool IsLoggedInstaller(const ProgramRun& program);

// The facts of one run as its log tells them. `run` is nothing when the log
// held no run (the launcher: nothing was appended). `clearonExitCode` is
// Clearon.exe's own exit code when the caller saw it end (the launcher);
// `result` on a log file has only the log.
[[nodiscard]] RunFacts FactsOfLoggedRun(const LogRun* run, std::optional<int> clearonExitCode);

// Maps one run: its facts, decided as Clearon decides its own.
[[nodiscard]] RunOutcome MapRunOutcome(const LogRun* run, std::optional<int> clearonExitCode);

// "Clearon: <text> (exit <code>)"
[[nodiscard]] std::wstring OutcomeLine(const RunOutcome& outcome);

}  // namespace clearon::check
