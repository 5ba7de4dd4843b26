// ClearonCheck report on logs written by real Clearon runs under Wine: a run
// that removes one product, fails on another, is told No for a third and
// asks for a restart because Aegira's installer did not finish, then a second
// run in the same log after which Aegira is installed. And `result` on a run
// that met two entries of one name, one of which stayed.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "check/check_wine.h"
#include "check/logs/log_report.h"
#include "platform/handles.h"
#include "support/win/fixture_products.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

// The entry that stays comes first in the key's order: an uninstaller that
// removes its entry makes the scan pass over the entry after it.
const std::wstring kStays = L"ClearonReportA";
const std::wstring kGone = L"ClearonReportB";
const std::wstring kDeclined = L"ClearonReportDeclined";

class CheckReportWine : public ::testing::Test {
protected:
    ScratchDir dir{L"check-report"};

    void SetUp() override {
        Wipe();
        RegisterScriptedProduct(kGone, L"Bilby Guard Gone", true);
        RegisterScriptedProduct(kStays, L"Bilby Guard Stays", false, L"/exit=3");
        RegisterScriptedProduct(kDeclined, L"Bilby Declined Test", true);
        CopyFileOrFail(TestProgramPath(L"aegira_setup_standin.exe"), dir / L"setup.exe");
        CreateKey(HKEY_CURRENT_USER, kRunOnceKey);  // a fresh Wine prefix lacks it
    }
    void TearDown() override { Wipe(); }

    static void Wipe() { WipeClearonRun({kGone, kStays, kDeclined}); }

    std::optional<DWORD> RunAnsweringNoTo(const std::wstring& declined) const {
        BoxAnswerer answerer(L"Question", [&](const std::wstring& text) {
            return text.find(declined) != std::wstring::npos ? std::wstring(L"No")
                                                             : std::wstring(L"Yes");
        });
        return RunClearon(dir, L"", 240s).exitCode;
    }
};

TEST_F(CheckReportWine, RealRunsBecomeRowsWithRemovedFailedDeclinedAndRestart) {
    WriteAnsi(dir / L"Clearon.ini",
              "[Settings]\r\nShowGUI=N\r\nAskBeforeRemoval=Y\r\nResumeAfterReboot=Y\r\n"
              "RunAfterRemoval=setup.exe /version=11.0.5002.333\r\n"
              "[ProductNames]\r\nBilby Guard\r\nBilby Declined\r\n[UninstallPaths]\r\n");
    // The first installer run needs a restart before Aegira reports itself.
    WriteAnsi(dir / L"aegira_setup.hold", "hold");
    EXPECT_EQ(RunAnsweringNoTo(L"Bilby Declined Test"), std::optional<DWORD>(1));
    // The restart: the volatile marker keys go, and RunOnce has been used.
    DeleteFileW((dir / L"aegira_setup.hold").c_str());
    DeleteValue(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon");
    DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaral");
    EXPECT_EQ(RunAnsweringNoTo(L"Bilby Declined Test"), std::optional<DWORD>(1));

    const std::wstring logName = L"Clearon." + ComputerName() + L".log";
    const std::vector<std::uint8_t> bytes = ReadBytes(dir / logName);
    const check::LogFileReport report = check::ReadRunLog(logName, bytes);
    ASSERT_TRUE(report.isClearonLog);
    EXPECT_TRUE(report.problems.empty());
    ASSERT_EQ(report.runs.size(), 2u);
    for (const check::LogRun& run : report.runs) {
        EXPECT_EQ(run.computer, ComputerName());
        EXPECT_TRUE(run.stopped);
        EXPECT_EQ(run.declined, std::vector<std::wstring>{L"Bilby Declined Test"});
        EXPECT_EQ(run.failed, std::vector<std::wstring>{L"Bilby Guard Stays"});
    }
    EXPECT_EQ(report.runs[0].removed, std::vector<std::wstring>{L"Bilby Guard Gone"});
    EXPECT_TRUE(report.runs[1].removed.empty());
    EXPECT_EQ(report.runs[0].aegira, check::AegiraState::NotInstalled);
    EXPECT_TRUE(report.runs[0].restartRequested);
    EXPECT_EQ(report.runs[1].aegira, check::AegiraState::Installed);
    EXPECT_EQ(report.runs[1].aegiraVersion, L"11.0.5002.333");
    EXPECT_FALSE(report.runs[1].restartRequested);
    ASSERT_FALSE(report.runs[0].programs.empty());
    EXPECT_EQ(report.runs[0].programs.back().commandLine,
              dir / L"setup.exe" + L" /version=11.0.5002.333");
    EXPECT_EQ(report.runs[0].programs.back().exitCode, L"0");

    // The same through ClearonCheck.exe, as a spreadsheet, beside a log that
    // was cut and a file that is no log at all.
    std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 301);
    WriteBytes(dir / L"Clearon.CUT-WS.log", cut);
    WriteAnsi(dir / L"Clearon.TEXT-WS.log", "Computer Name: TEXT-WS\r\n");
    const ProcessResult csv = RunClearonCheck(L"report \"" + dir.path() + L"\" --csv", dir.path());
    ASSERT_TRUE(csv.exitCode.has_value());
    EXPECT_EQ(*csv.exitCode, 1u) << csv.standardOutput;  // the cut and foreign logs need a look
    const std::wstring table = Widen(csv.standardOutput);
    EXPECT_EQ(table.find(check::kCsvHeader), 0u) << csv.standardOutput;
    EXPECT_NE(table.find(L"Clearon.CUT-WS.log,"), std::wstring::npos);
    EXPECT_NE(table.find(L"odd number of bytes"), std::wstring::npos) << csv.standardOutput;
    EXPECT_NE(table.find(L"not a Clearon log: single-byte text"), std::wstring::npos);
    EXPECT_NE(table.find(L",Bilby Guard Gone,Bilby Declined Test,Bilby Guard Stays,"),
              std::wstring::npos)
        << csv.standardOutput;
    EXPECT_NE(table.find(L",NOT installed,yes,yes,"), std::wstring::npos) << csv.standardOutput;
    EXPECT_NE(table.find(L",11.0.5002.333 installed,no,yes,"), std::wstring::npos);

    const ProcessResult text = RunClearonCheck(L"report \"" + dir.path() + L"\"", dir.path());
    EXPECT_NE(text.standardOutput.find("1 restart(s) requested, Aegira installed on 1 computer(s)"),
              std::string::npos)
        << text.standardOutput;

    // The real log as CMTrace lines: one entry per line of the log, each
    // whole, the failed removal marked as an error.
    const std::wstring logPath = L"\"" + (dir / logName) + L"\"";
    const ProcessResult plain = RunClearonCheck(L"log " + logPath, dir.path());
    const ProcessResult cmtrace = RunClearonCheck(L"log " + logPath + L" --cmtrace", dir.path());
    ASSERT_EQ(cmtrace.exitCode, std::optional<DWORD>(0)) << cmtrace.standardOutput;
    EXPECT_EQ(plain.exitCode, std::optional<DWORD>(0));
    const auto lines = [](const std::string& out) {
        std::vector<std::string> result;
        for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            result.push_back(out.substr(at, end - at));
        return result;
    };
    const std::vector<std::string> entries = lines(cmtrace.standardOutput);
    EXPECT_EQ(entries.size(), lines(plain.standardOutput).size());
    std::size_t errors = 0;
    for (const std::string& entry : entries) {
        EXPECT_EQ(entry.rfind("<![LOG[", 0), 0u) << entry;
        EXPECT_NE(entry.find("]LOG]!><time=\""), std::string::npos) << entry;
        if (entry.find("Failed to remove Bilby Guard Stays]LOG]") != std::string::npos) {
            EXPECT_NE(entry.find("type=\"3\""), std::string::npos) << entry;
            ++errors;
        }
    }
    EXPECT_GE(errors, 2u) << cmtrace.standardOutput;  // at least once in each run
}

// Two uninstall entries with one display name, the first staying and the
// second removed: Clearon counts a product that stayed, and `result` on its
// log says the same, 1, not done.
TEST_F(CheckReportWine, ASameNameEntryThatStaysIsJudgedAsClearonCountedIt) {
    RegisterScriptedProduct(kStays, L"Bilby Twin", false, L"/exit=3");
    RegisterScriptedProduct(kGone, L"Bilby Twin", true);
    WriteAnsi(dir / L"Clearon.ini",
              "[Settings]\r\nShowGUI=N\r\nAskBeforeRemoval=N\r\n"
              "[ProductNames]\r\nBilby Twin\r\n[UninstallPaths]\r\n");
    EXPECT_EQ(RunClearon(dir, L"", 240s).exitCode, std::optional<DWORD>(1));

    const std::wstring logPath = L"\"" + (dir / (L"Clearon." + ComputerName() + L".log")) + L"\"";
    const ProcessResult result = RunClearonCheck(L"result " + logPath, dir.path());
    EXPECT_EQ(result.exitCode, std::optional<DWORD>(1)) << result.standardOutput;
    EXPECT_NE(result.standardOutput.find("stayed"), std::string::npos) << result.standardOutput;
}

}  // namespace
}  // namespace clearon::test
