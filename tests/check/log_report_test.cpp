// ClearonCheck report over synthetic run logs: removed, declined, failed,
// programs and exit codes, Aegira, restarts, two runs in one file, and logs
// that are cut, partly written or not Clearon's at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "check/check_cli.h"
#include "check/check_text.h"
#include "check/log_report.h"
#include "support/host/run_log_text.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;

using test::At;
using test::Utf16;

const std::wstring kFirstRun =
    L"Computer Name: WS0142\r\n" + At(1, L" Clearon starting!") +
    At(2, L" Attempting to run: prepare.exe /quiet") + At(3, L" Exit code: 0") +
    At(4, L" Removing: Zebratech Antivirus Test") +
    At(5, L" Attempting to run: MsiExec.exe /X{5E7A} REMOVE=ALL REBOOT=R /qn") +
    At(6, L" Exit code: 0") + At(7, L" Removing: Wombat Guard") +
    At(8, L" Attempting to run: C:\\Wombat\\uninst.exe /S") + At(9, L" Exit code: 3") +
    At(10, L" Failed to remove Wombat Guard") +
    At(11, L" User chose not to remove: Numbat, Filter") +
    At(12, L" Attempting to run: setup.exe /quiet") + At(13, L" Exit code: -1073741819") +
    At(14, L" Aegira is NOT installed.") +
    At(15, L" Added tool to current user's RunOnce key, please reboot to run tool again.") +
    At(16, L" Clearon stopping!");

const std::wstring kSecondRun = L"Computer Name: WS0142\r\n" + At(30, L" Clearon starting!") +
                                At(31, L" Removing: Wombat Guard") +
                                At(32, L" Attempting to run: C:\\Wombat\\uninst.exe /S") +
                                At(33, L" Exit code: 0") + At(34, L" Aegira 11.2 is installed.") +
                                At(35, L" Clearon stopping!");

TEST(LogReport, ARunBecomesOneRowWithEveryOutcome) {
    const LogFileReport report = ReadRunLog(L"Clearon.WS0142.log", Utf16(kFirstRun));
    ASSERT_TRUE(report.isClearonLog);
    EXPECT_TRUE(report.problems.empty());
    ASSERT_EQ(report.runs.size(), 1u);
    const LogRun& run = report.runs[0];
    EXPECT_EQ(run.computer, L"WS0142");
    EXPECT_EQ(run.start, L"07/04/2026 09:05:01:007");
    EXPECT_EQ(run.stop, L"07/04/2026 09:05:16:007");
    EXPECT_EQ(run.removed, std::vector<std::wstring>{L"Zebratech Antivirus Test"});
    EXPECT_EQ(run.failed, std::vector<std::wstring>{L"Wombat Guard"});
    EXPECT_EQ(run.declined, std::vector<std::wstring>{L"Numbat, Filter"});
    ASSERT_EQ(run.programs.size(), 4u);
    EXPECT_EQ(run.programs[2].exitCode, L"3");
    EXPECT_EQ(run.programs[3].commandLine, L"setup.exe /quiet");
    EXPECT_EQ(run.programs[3].exitCode, L"-1073741819");
    EXPECT_EQ(run.aegira, AegiraState::NotInstalled);
    EXPECT_TRUE(run.restartRequested);
    EXPECT_TRUE(run.stopped);
}

TEST(LogReport, TwoRunsInOneFileAndALaterSuccess) {
    const LogFileReport report = ReadRunLog(L"Clearon.WS0142.log", Utf16(kFirstRun + kSecondRun));
    ASSERT_EQ(report.runs.size(), 2u);
    EXPECT_EQ(report.runs[1].removed, std::vector<std::wstring>{L"Wombat Guard"});
    EXPECT_TRUE(report.runs[1].failed.empty());
    EXPECT_EQ(report.runs[1].aegira, AegiraState::Installed);
    EXPECT_EQ(report.runs[1].aegiraVersion, L"11.2");
    EXPECT_FALSE(report.runs[1].restartRequested);

    // Removed, failed and removed again within one run: the last word wins.
    const std::wstring again = L"Computer Name: WS7\r\n" + At(1, L" Clearon starting!") +
                               At(2, L" Removing: Acme") + At(3, L" Failed to remove Acme") +
                               At(4, L" Removing: Acme") + At(5, L" Clearon stopping!");
    const LogFileReport retried = ReadRunLog(L"Clearon.WS7.log", Utf16(again));
    ASSERT_EQ(retried.runs.size(), 1u);
    EXPECT_EQ(retried.runs[0].removed, std::vector<std::wstring>{L"Acme"});
    EXPECT_TRUE(retried.runs[0].failed.empty());

    const ReportTotals totals = TotalReport({report, retried});
    EXPECT_EQ(totals.runs, 3u);
    EXPECT_EQ(totals.computers, 2u);
    EXPECT_EQ(totals.removed, 3u);
    EXPECT_EQ(totals.failed, 1u);
    EXPECT_EQ(totals.declined, 1u);
    EXPECT_EQ(totals.restarts, 1u);
    EXPECT_EQ(totals.aegiraInstalled, 1u);  // WS0142's last run
    EXPECT_EQ(totals.programsNotZero, 2u);
}

TEST(LogReport, CutPartlyWrittenAndForeignFilesAreReportedNotTrusted) {
    const std::vector<std::uint8_t> whole = Utf16(kFirstRun);
    // Cut in the middle of the program's run: no exit code, no stop line,
    // and the product being removed is not counted as removed.
    const std::wstring upToRemoval = kFirstRun.substr(0, kFirstRun.find(L"09:05:06"));
    const LogFileReport partly = ReadRunLog(L"Clearon.WS1.log", Utf16(upToRemoval));
    ASSERT_EQ(partly.runs.size(), 1u);
    EXPECT_FALSE(partly.runs[0].stopped);
    EXPECT_EQ(partly.runs[0].interrupted, std::vector<std::wstring>{L"Zebratech Antivirus Test"});
    EXPECT_TRUE(partly.runs[0].removed.empty());
    EXPECT_EQ(partly.runs[0].programs.back().status, ProgramRun::Status::Running);
    EXPECT_NE(ToUtf8(FormatReportText({partly})).find("no stop line"), std::string::npos);

    // Every length of the file, odd ones included, reads without failing;
    // an odd length is a cut character, a length inside a line is a cut line.
    for (std::size_t size = 0; size <= whole.size(); size += 7) {
        const LogFileReport cut =
            ReadRunLog(L"Clearon.WS1.log", std::span<const std::uint8_t>(whole.data(), size));
        if (size % 2 != 0 && cut.isClearonLog) {
            EXPECT_NE(ToUtf8(cut.problems.empty() ? L"" : cut.problems.front()).find("odd number"),
                      std::string::npos);
        }
        (void)FormatReportCsv({cut});
    }

    // A log that ends after the uninstaller's line: only an uninstaller that
    // ran to an exit code leaves the product counted as removed.
    const std::pair<std::wstring, bool> endings[] = {
        {At(3, L" Attempting to run: C:\\W\\u.exe"), false},
        {At(3, L" Attempting to run: C:\\W\\u.exe") + At(4, L" Failed to launch process!"), false},
        {At(3, L" Not running a command longer than 511 characters: C:\\W..."), false},
        {At(3,
            L" Not running a command whose program path holds a blank and names no existing "
            L"file: C:\\W W\\u /S"),
         false},
        {At(3, L" Attempting to run: C:\\W\\u.exe") + At(4, L" Exit code: 0"), true},
    };
    for (const auto& [ending, removed] : endings) {
        const LogFileReport ended = ReadRunLog(
            L"Clearon.WS1.log", Utf16(L"Computer Name: WS1\r\n" + At(1, L" Clearon starting!") +
                                      At(2, L" Removing: Wombat Guard") + ending));
        ASSERT_EQ(ended.runs.size(), 1u);
        EXPECT_EQ(ended.runs[0].removed.size(), removed ? 1u : 0u) << ToUtf8(ending);
        EXPECT_EQ(ended.runs[0].interrupted.size(), removed ? 0u : 1u) << ToUtf8(ending);
    }

    // The timestamp of a line whose message never came, then the next run.
    const std::wstring interrupted = L"Computer Name: WS2\r\n" + At(1, L" Clearon starting!") +
                                     L"07/04/2026 09:05:02:007" + kSecondRun;
    const LogFileReport torn = ReadRunLog(L"Clearon.WS2.log", Utf16(interrupted));
    ASSERT_EQ(torn.runs.size(), 2u);
    EXPECT_FALSE(torn.runs[0].stopped);
    EXPECT_TRUE(torn.runs[1].stopped);
    EXPECT_EQ(torn.runs[1].computer, L"WS0142");

    const std::string utf8 = "Computer Name: WS3\r\n07/04/2026 09:05:01:007 Clearon starting!\r\n";
    const LogFileReport narrow =
        ReadRunLog(L"Clearon.WS3.log", std::vector<std::uint8_t>(utf8.begin(), utf8.end()));
    EXPECT_FALSE(narrow.isClearonLog);
    EXPECT_TRUE(narrow.runs.empty());
    EXPECT_NE(ToUtf8(narrow.problems.at(0)).find("single-byte text"), std::string::npos);

    std::mt19937 random(42);
    std::vector<std::uint8_t> noise(4096);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    const LogFileReport junk = ReadRunLog(L"Clearon.WS4.log", noise);
    EXPECT_FALSE(junk.isClearonLog);
    EXPECT_TRUE(junk.runs.empty());

    const LogFileReport empty = ReadRunLog(L"Clearon.WS5.log", {});
    EXPECT_FALSE(empty.isClearonLog);
    const ReportTotals totals = TotalReport({narrow, junk, empty});
    EXPECT_EQ(totals.foreignFiles, 3u);
    EXPECT_EQ(totals.runs, 0u);
}

// A minimal CSV reader, to prove that every row keeps its columns.
std::vector<std::vector<std::wstring>> ParseCsv(std::wstring_view text) {
    std::vector<std::vector<std::wstring>> rows(1);
    std::wstring field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (quoted) {
            if (c == L'"' && i + 1 < text.size() && text[i + 1] == L'"') {
                field.push_back(L'"');
                ++i;
            } else if (c == L'"') {
                quoted = false;
            } else {
                field.push_back(c);
            }
        } else if (c == L'"') {
            quoted = true;
        } else if (c == L',') {
            rows.back().push_back(field);
            field.clear();
        } else if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
            rows.back().push_back(field);
            field.clear();
            rows.emplace_back();
            ++i;
        } else {
            field.push_back(c);
        }
    }
    if (rows.back().empty()) rows.pop_back();
    return rows;
}

TEST(LogReport, CsvFieldsAreQuotedForASpreadsheet) {
    const struct {
        std::wstring_view in;
        std::wstring_view out;
    } cases[] = {
        {L"plain", L"plain"},
        {L"a, b", L"\"a, b\""},
        {L"say \"hi\"", L"\"say \"\"hi\"\"\""},
        {L"two\r\nlines", L"\"two\r\nlines\""},
        {L" padded", L"\" padded\""},
        {L"=HYPERLINK(\"x\")", L"\"'=HYPERLINK(\"\"x\"\")\""},
        {L"-1073741819", L"'-1073741819"},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(CsvField(c.in), c.out) << ToUtf8(c.in);

    const std::wstring evil = L"Computer Name: WS\"9,\r\n" + At(1, L" Clearon starting!") +
                              At(2, L" Removing: =cmd|' /C calc'!A0, \"quoted\"") +
                              At(3, L" Clearon stopping!");
    const std::wstring csv = FormatReportCsv({ReadRunLog(L"Clearon.WS9.log", Utf16(evil)),
                                              ReadRunLog(L"Clearon.WS0142.log", Utf16(kFirstRun)),
                                              ReadRunLog(L"Clearon.X.log", {})});
    const auto rows = ParseCsv(csv);
    ASSERT_EQ(rows.size(), 4u) << ToUtf8(csv);
    const std::size_t columns = ParseCsv(std::wstring(kCsvHeader) + L"\r\n").at(0).size();
    for (const auto& row : rows) EXPECT_EQ(row.size(), columns) << ToUtf8(csv);
    EXPECT_EQ(rows[1][1], L"WS\"9,");
    EXPECT_EQ(rows[1][4], L"'=cmd|' /C calc'!A0, \"quoted\"");
    EXPECT_EQ(rows[2][5], L"Numbat, Filter");
    EXPECT_EQ(rows[2][10], L"yes");
}

TEST(LogReport, TheCommandReadsEveryRunLogOfAFolder) {
    const fs::path dir =
        fs::temp_directory_path() / ("clearon_report_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream file(dir / name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    };
    write("Clearon.WS0142.log", Utf16(kFirstRun + kSecondRun));
    std::wstring other = kSecondRun;
    other.replace(other.find(L"WS0142"), 6, L"WS7");
    write("clearon.ws7.LOG", Utf16(other));
    write("Clearon_Err.log", Utf16(L"The Clearon.ini file is blank.\r\n"));  // not a run log
    write("notes.txt", {'x'});
    CheckPlatform platform;
    std::wstring out;
    std::wstring err;
    EXPECT_EQ(RunCheck({L"report", dir.wstring()}, platform, out, err), kReportClean)
        << ToUtf8(out);
    EXPECT_NE(
        out.find(L"Totals: 2 file(s) (0 not Clearon's, 0 with problems), 2 computer(s), 3 run(s)"),
        std::wstring::npos)
        << ToUtf8(out);
    EXPECT_EQ(out.find(L"Clearon_Err"), std::wstring::npos);

    write("Clearon.WS8.log", Utf16(kFirstRun.substr(0, 101)));
    out.clear();
    EXPECT_EQ(RunCheck({L"report", dir.wstring(), L"--csv"}, platform, out, err), kReportAttention);
    EXPECT_EQ(ParseCsv(out).size(), 1u + 3u + 1u) << ToUtf8(out);
    out.clear();
    EXPECT_EQ(RunCheck({L"report", (dir / "nothing").wstring()}, platform, out, err),
              kReportNoFolder);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace clearon::check
