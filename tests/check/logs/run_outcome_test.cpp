// The mapping of a run to the codes deployment systems understand, over
// synthetic runs: every outcome, what wins when several apply, and the runs
// that must not be taken for a restart. Where Clearon can end a run that
// way, the same run as Clearon's own state must get the same answer.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "check/cli/check_text.h"
#include "check/deploy/deploy.h"
#include "check/logs/run_outcome.h"
#include "removal/removal_state.h"
#include "support/host/run_log_text.h"

namespace clearon::check {
namespace {

using test::At;
using test::Utf16;

const std::wstring kHead = L"Computer Name: WS1\r\n" + At(1, L" Clearon starting!");
const std::wstring kStop = At(59, L" Clearon stopping!");
const std::wstring kRemoved = At(2, L" Removing: Wombat Guard") +
                              At(3, L" Attempting to run: C:\\W\\uninst.exe /S") +
                              At(4, L" Exit code: 0");
std::wstring Stayed(std::wstring_view code) {
    return At(5, L" Removing: Numbat AV") + At(6, L" Attempting to run: MsiExec.exe /X{1} /qn") +
           At(7, L" Exit code: " + std::wstring(code)) + At(8, L" Failed to remove Numbat AV");
}
std::wstring Installer(std::wstring_view ending) {
    return At(10, L" Attempting to run: setup.exe /quiet /log C:\\t\\a.log") +
           At(11, std::wstring(ending));
}
const std::wstring kNotInstalled = At(12, L" Aegira is NOT installed.");
const std::wstring kInstalled = At(12, L" Aegira 11.2 is installed.");
const std::wstring kResume =
    At(13, L" Added tool to current user's RunOnce key, please reboot to run tool again.");

// Clearon's state at the end of the same run.
using State = std::function<void(RemovalState&)>;
State InstallerEnded(std::uint32_t code, bool resume = false) {
    return [=](RemovalState& s) {
        s.installer = InstallerFact::Exited;
        s.installerExitCode = code;
        s.resumeRegistered = resume;
    };
}
State Failed(bool busy) {
    return [=](RemovalState& s) {
        s.failureCount = 1;
        s.failedEntries.push_back({L"|Numbat AV|", L"K1", busy});
    };
}
const State kNothing = [](RemovalState&) {};

struct Case {
    const char* name;
    std::wstring log;
    std::optional<int> clearonExit;
    int code;
    OutcomeKind kind;
    State state = nullptr;  // Clearon's own view, when it can end a run so
};

TEST(RunOutcome, EachRunMapsToTheCodeADeploymentUnderstands) {
    const Case cases[] = {
        {"clean removal", kHead + kRemoved + Installer(L" Exit code: 0") + kInstalled + kStop, 0, 0,
         OutcomeKind::Done, InstallerEnded(0)},
        {"nothing found, no installer", kHead + kStop, std::nullopt, 0, OutcomeKind::Done},
        {"product stayed", kHead + kRemoved + Stayed(L"3") + kStop, 1, 1,
         OutcomeKind::ProductStayed, Failed(false)},
        {"resume registered", kHead + Installer(L" Exit code: 0") + kNotInstalled + kResume + kStop,
         0, 3010, OutcomeKind::RestartNeeded, InstallerEnded(0, true)},
        {"installer 3010", kHead + Installer(L" Exit code: 3010") + kInstalled + kStop, 0, 3010,
         OutcomeKind::RestartNeeded, InstallerEnded(3010)},
        // The installer's own restart is under way: 1641 is passed on.
        {"installer 1641", kHead + Installer(L" Exit code: 1641") + kInstalled + kStop, 0, 1641,
         OutcomeKind::RestartNeeded, InstallerEnded(1641)},
        {"installer 1641, resume registered",
         kHead + Installer(L" Exit code: 1641") + kNotInstalled + kResume + kStop, 0, 1641,
         OutcomeKind::RestartNeeded, InstallerEnded(1641, true)},
        // Clearon registers its resume whenever the installer was launched
        // and Aegira is missing: a failed installer must not read as a restart.
        {"installer failed, resume registered",
         kHead + Installer(L" Exit code: 1603") + kNotInstalled + kResume + kStop, 0, 1603,
         OutcomeKind::InstallerFailed, InstallerEnded(1603, true)},
        {"installer negative code", kHead + Installer(L" Exit code: -1073741819") + kStop, 0,
         -1073741819, OutcomeKind::InstallerFailed},
        {"installer missing",
         kHead + Installer(L" Failed to launch process!") + kNotInstalled + kResume + kStop, 0,
         1603, OutcomeKind::InstallerFailed,
         [](RemovalState& s) { s.installer = InstallerFact::NotStarted; }},
        {"installer left running",
         kHead + Installer(L" The program is still running") + kNotInstalled + kStop, 0, 1603,
         OutcomeKind::InstallerFailed,
         [](RemovalState& s) { s.installer = InstallerFact::NoExitCode; }},
        // An uninstaller refused, its entry gone all the same: the next
        // program is Aegira's installer, not that product's uninstaller.
        {"installer missing after a refused uninstaller",
         kHead + At(2, L" Removing: Wombat Guard") +
             At(3,
                L" Not running a command whose program path holds a blank and names no "
                L"existing file: C:\\W W\\uninst /S") +
             Installer(L" Failed to launch process!") + kNotInstalled + kResume + kStop,
         0, 1603, OutcomeKind::InstallerFailed},
        {"installer busy", kHead + Installer(L" Exit code: 1618") + kStop, 0, 1618,
         OutcomeKind::RetryLater, InstallerEnded(1618)},
        {"uninstaller busy at the end", kHead + Stayed(L"1618") + kStop, 1, 1618,
         OutcomeKind::RetryLater, Failed(true)},
        {"stayed beats a failed installer",
         kHead + Stayed(L"3") + Installer(L" Exit code: 5") + kStop, 1, 1,
         OutcomeKind::ProductStayed},
        // The same uninstaller run again and its entry gone: Clearon counts
        // the name no more.
        {"a removed product's later success",
         kHead + Stayed(L"3") + kRemoved + At(20, L" Removing: Numbat AV") +
             At(21, L" Attempting to run: MsiExec.exe /X{1} /qn") + At(22, L" Exit code: 0") +
             kStop,
         0, 0, OutcomeKind::Done, kNothing},
        // Two entries of one name, the first stayed and the second went:
        // Clearon still counts the first.
        {"same name, another entry removed",
         kHead + Stayed(L"3") + At(20, L" Removing: Numbat AV") +
             At(21, L" Attempting to run: C:\\N\\uninst2.exe /S") + At(22, L" Exit code: 0") +
             kStop,
         1, 1, OutcomeKind::ProductStayed, Failed(false)},
        {"setup in a folder is not the installer",
         kHead + At(10, L" Attempting to run: C:\\Kits\\setup.exe") + At(11, L" Exit code: 7") +
             kStop,
         0, 0, OutcomeKind::Done},
        // Clearon logs the full path it found for a setup named without a
        // folder, and its refusals of a setup it found nowhere or that
        // others can change.
        {"installer looked up",
         kHead + At(9, L" Looked up beside Clearon.exe and in the system folders: setup.exe") +
             At(10, L" Attempting to run: \"C:\\My Kit\\setup.exe\" /quiet") +
             At(11, L" Exit code: 1603") + kStop,
         0, 1603, OutcomeKind::InstallerFailed},
        {"installer found nowhere",
         kHead +
             At(10,
                L" Not running a program found neither beside Clearon.exe nor in the system "
                L"folders: setup.exe /quiet") +
             kStop,
         0, 1603, OutcomeKind::InstallerFailed},
        {"installer others can change",
         kHead + At(9, L" Looked up beside Clearon.exe and in the system folders: setup.exe") +
             At(10,
                L" Not running a program that others than administrators can change (S-1-1-0 "
                L"may write C:\\Kit\\setup.exe): C:\\Kit\\setup.exe /quiet") +
             kStop,
         0, 1603, OutcomeKind::InstallerFailed},
        {"disk space", kHead + L"Not enough disk space on the system drive.\r\n", 112, 112,
         OutcomeKind::ClearonCode, kNothing},
        {"worker not started", kHead + At(2, L" Could not create the Clearon thread.") + kStop, 155,
         155, OutcomeKind::ClearonCode, kNothing},
        {"worker not started, log alone", kHead + L"Could not create the Clearon thread.\n",
         std::nullopt, 155, OutcomeKind::ClearonCode},
        {"disk space, log alone", kHead + L"Not enough disk space on the system drive.\r\n",
         std::nullopt, 112, OutcomeKind::ClearonCode},
        {"refused file, older run in the log", kHead + kRemoved + kStop, 13, 13,
         OutcomeKind::ClearonCode},
        {"no stop line", kHead + kRemoved, std::nullopt, 60004, OutcomeKind::NoRun},
        {"Clearon's own code", kHead + kStop, 1459, 1459, OutcomeKind::ClearonCode, kNothing},
        {"an unexpected error", kHead + kRemoved, 1359, 1359, OutcomeKind::ClearonCode, kNothing},
        {"no run at all", L"", 0, 60004, OutcomeKind::NoRun},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const LogFileReport report = ReadRunLog(L"Clearon.WS1.log", Utf16(c.log));
        const RunOutcome outcome =
            MapRunOutcome(report.runs.empty() ? nullptr : &report.runs.back(), c.clearonExit);
        EXPECT_EQ(outcome.exitCode, c.code) << ToUtf8(outcome.text);
        EXPECT_EQ(outcome.kind, c.kind) << ToUtf8(outcome.text);
        if (!c.state) continue;
        RemovalState state;
        c.state(state);
        const RunOutcome own = DecideRunOutcome(FactsOfOwnRun(state, *c.clearonExit));
        EXPECT_EQ(own.exitCode, c.code) << ToUtf8(own.text);
        EXPECT_EQ(own.kind, c.kind) << ToUtf8(own.text);
        EXPECT_EQ(own.text, outcome.text);
    }
}

TEST(RunOutcome, OnlyWhatTheRunAppendedIsRead) {
    const std::vector<std::uint8_t> log = Utf16(kHead + Stayed(L"3") + kStop + kHead + kStop);
    const std::size_t before = Utf16(kHead + Stayed(L"3") + kStop).size();
    LogFileReport report;
    EXPECT_EQ(DeployOutcome(L"l", AppendedBytes(log, before), 0, report).exitCode, 0);
    EXPECT_EQ(report.runs.size(), 1u);
    // Nothing appended (EnableLogging off, or an early end): nothing to judge.
    EXPECT_EQ(DeployOutcome(L"l", AppendedBytes(log, log.size()), 0, report).exitCode, 60004);
    // A log that shrank was replaced: it is read whole, its last run counts.
    EXPECT_EQ(AppendedBytes(log, log.size() + 10).size(), log.size());
}

TEST(RunOutcome, TheLineSaysTextAndCode) {
    EXPECT_EQ(OutcomeLine({3010, OutcomeKind::RestartNeeded, L"a restart is needed to finish"}),
              L"Clearon: a restart is needed to finish (exit 3010)");
    EXPECT_EQ(LogShareFileName(L"WS1"), L"Clearon.WS1.log");
    EXPECT_EQ(LogShareFileName(std::nullopt), L"Clearon.log");
    EXPECT_EQ(RunLogPathFor(L"[Settings]\r\nLogPath=%LOGS%\\x\r\n", L"C:\\pkg", L"WS1",
                            [](std::wstring_view) { return std::optional<std::wstring>(L"D:"); }),
              L"D:\\x\\Clearon.WS1.log");
    EXPECT_EQ(RunLogPathFor(L"[Settings]\r\n", L"C:\\pkg", L"WS1",
                            [](std::wstring_view) { return std::nullopt; }),
              L"C:\\pkg\\Clearon.WS1.log");
}

}  // namespace
}  // namespace clearon::check
