// ClearonCheck report over several logs at once: totals across files and
// computers, every cut of a log, CSV quoting and the folder command. What the
// report makes of each single log is in the gold corpus (log_corpus_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"
#include "check/logs/log_report.h"
#include "check/logs/report_writer.h"
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

TEST(LogReport, TotalsCountComputersByTheirLastRun) {
    const LogFileReport report = ReadRunLog(L"Clearon.WS0142.log", Utf16(kFirstRun + kSecondRun));
    const std::wstring again = L"Computer Name: WS7\r\n" + At(1, L" Clearon starting!") +
                               At(2, L" Removing: Acme") + At(3, L" Failed to remove Acme") +
                               At(4, L" Removing: Acme") + At(5, L" Clearon stopping!");
    const LogFileReport retried = ReadRunLog(L"Clearon.WS7.log", Utf16(again));

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

TEST(LogReport, EveryCutOfALogReads) {
    // Every length, odd ones included, reads without failing; an odd length
    // is a cut character.
    const std::vector<std::uint8_t> whole = Utf16(kFirstRun);
    for (std::size_t size = 0; size <= whole.size(); size += 7) {
        const LogFileReport cut =
            ReadRunLog(L"Clearon.WS1.log", std::span<const std::uint8_t>(whole.data(), size));
        if (size % 2 != 0 && cut.isClearonLog) {
            EXPECT_NE(ToUtf8(cut.problems.empty() ? L"" : cut.problems.front()).find("odd number"),
                      std::string::npos);
        }
        (void)FormatReportCsv({cut});
    }
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

TEST(LogReport, TheInputCapLeavesOutTheEndOfTheList) {
    constexpr std::uint64_t kHuge = kMaxRunLogBytes + 1;  // never read: counts nothing
    const struct {
        std::vector<std::uint64_t> sizes;
        std::uint64_t cap;
        std::size_t read;
    } cases[] = {
        {{10, kHuge, 20, 5}, 35, 4}, {{10, kHuge, 20, 5}, 34, 3},
        {{10, 20}, 29, 1},           {{0, 10}, 0, 1},  // an empty log still fits
        {{kHuge, kHuge}, ~0ull, 2},
    };
    for (const auto& c : cases) EXPECT_EQ(LogsWithinInput(c.sizes, c.cap), c.read) << c.cap;
}

// The CSV's first bytes, and the logs beyond --max-input: named on stderr,
// not reported, and a reason to look (exit 1).
TEST(LogReport, ByteOrderMarkAndInputCap) {
    const fs::path dir = fs::temp_directory_path() /
                         ("clearon_report_cap_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::vector<std::uint8_t> first = Utf16(kFirstRun);
    const std::vector<std::uint8_t> second = Utf16(kSecondRun);
    for (const auto& [name, bytes] :
         {std::pair{"Clearon.A.log", &first}, {"Clearon.B.log", &second}}) {
        std::ofstream file(dir / name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
    }
    const std::wstring both = std::to_wstring(first.size() + second.size());
    const struct {
        std::vector<std::wstring> options;
        int status;
        std::string begins;      // the CSV's first bytes
        const wchar_t* leftOut;  // a log named on stderr and not reported; nullptr: none
    } cases[] = {
        {{}, kReportClean, "file,computer,", nullptr},
        {{L"--bom"},
         kReportClean,
         "\xEF\xBB\xBF"
         "file,computer,",
         nullptr},
        {{L"--max-input", both}, kReportClean, "file,", nullptr},
        {{L"--max-input", std::to_wstring(first.size() + second.size() - 1)},
         kReportAttention,
         "file,",
         L"Clearon.B.log"},
        {{L"--max-input", L"0"}, kReportAttention, "file,", L"Clearon.A.log"},
        {{L"--max-input", L"1M"}, kReportClean, "file,", nullptr},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> arguments{L"report", dir.wstring(), L"--csv"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        std::wstring out;
        std::wstring err;
        EXPECT_EQ(RunCheck(arguments, CheckPlatform{}, out, err), c.status) << ToUtf8(err);
        EXPECT_EQ(ToUtf8(out).substr(0, c.begins.size()), c.begins) << ToUtf8(arguments.back());
        if (c.leftOut == nullptr) {
            EXPECT_TRUE(err.empty()) << ToUtf8(err);
            EXPECT_NE(out.find(L"Clearon.B.log"), std::wstring::npos);
        } else {
            EXPECT_NE(err.find(L"bytes in all: " + std::wstring(c.leftOut)), std::wstring::npos)
                << ToUtf8(err);
            EXPECT_EQ(out.find(c.leftOut), std::wstring::npos) << ToUtf8(out);
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace clearon::check
