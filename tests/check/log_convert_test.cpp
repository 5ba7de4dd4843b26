// ClearonCheck log: a run log as plain lines and as CMTrace lines, the
// severity each kind of line gets, and the command line over real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "check/check_cli.h"
#include "check/check_text.h"
#include "check/log_convert.h"
#include "support/host/memory_registry.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;
using clearon::test::Utf16Bytes;

constexpr std::wstring_view kStamp = L"07/04/2026 09:05:03:007";

std::wstring CmLine(std::wstring_view text, std::wstring_view time, int type) {
    return L"<![LOG[" + std::wstring(text) + L"]LOG]!><time=\"" + std::wstring(time) +
           L"\" component=\"Clearon\" context=\"\" type=\"" + std::to_wstring(type) +
           L"\" thread=\"\" file=\"\">\r\n";
}

TEST(LogConvert, EachKindOfLineHasItsSeverity) {
    struct Case {
        std::wstring_view line;
        int type;
    };
    const Case cases[] = {
        {L"Computer Name: WS0142", 1},
        {L" Clearon starting!", 1},
        {L" Attempting to run: setup.exe /quiet", 1},
        {L" Exit code: 0", 1},
        {L" Exit code: 3010", 2},
        {L" Exit code: -1073741819", 2},
        {L" Removing: Wombat Guard", 1},
        {L" Failed to remove Wombat Guard", 3},
        {L" Failed to launch process!", 3},
        {L" Failed to add tool to local system RunOnce key.", 3},
        {L" The resume command does not fit in 254 characters; the tool was not added to a "
         L"RunOnce key.",
         3},
        {L" User chose not to remove: Numbat", 2},
        {L" Not removing Proventia Desktop: the path of AgentRemove.exe is longer", 2},
        {L" Skipping a program line longer than 254 characters.", 2},
        {L" Aegira is NOT installed.", 2},
        {L" Aegira 11.2 is installed.", 1},
        {L" Added tool to local system RunOnce key, please reboot to run tool again.", 1},
        {L"The Clearon.ini file is blank.", 2},  // a reported message: no timestamp
    };
    for (const Case& c : cases) {
        const bool untimed = c.line.front() != L' ';
        const std::wstring line = (untimed ? L"" : std::wstring(kStamp)) + std::wstring(c.line);
        const DecodedLog log = DecodeLog(Utf16Bytes(line + L"\r\n"));
        ASSERT_EQ(log.entries.size(), 1u);
        EXPECT_EQ(CmTraceType(log.entries[0]), c.type) << ToUtf8(c.line);
    }
}

TEST(LogConvert, ARunAsTextAndAsCmTrace) {
    const std::wstring log =
        L"Computer Name: WS0142\r\n" + std::wstring(kStamp) + L" Clearon starting!\r\n" +
        L"Not enough disk space.\r\n" + L"12/31/2026 23:59:59:999 Removing: A ]LOG]!> B\tC\rD\r\n" +
        L"Could not create the Clearon thread.\n" + std::wstring(kStamp) + L" Clearon stopping!";
    const DecodedLog decoded = DecodeLog(Utf16Bytes(L"\xFEFF" + log));  // a mark is dropped
    EXPECT_TRUE(decoded.clearonLog);
    EXPECT_FALSE(decoded.byteText);
    EXPECT_EQ(FormatLogText(decoded.entries),
              L"Computer Name: WS0142\r\n" + std::wstring(kStamp) + L" Clearon starting!\r\n" +
                  L"Not enough disk space.\r\n" +
                  L"12/31/2026 23:59:59:999 Removing: A ]LOG]!> B\tC\rD\r\n" +
                  L"Could not create the Clearon thread.\r\n" + std::wstring(kStamp) +
                  L" Clearon stopping!\r\n");

    constexpr std::wstring_view at = L"09:05:03.007+000\" date=\"07-04-2026";
    constexpr std::wstring_view late = L"23:59:59.999+000\" date=\"12-31-2026";
    EXPECT_EQ(FormatCmTrace(decoded.entries),
              CmLine(L"Computer Name: WS0142", at, 1) + CmLine(L"Clearon starting!", at, 1) +
                  CmLine(L"Not enough disk space.", at, 2) +
                  CmLine(L"Removing: A ]LOG] !> B\tC D", late, 1) +
                  CmLine(L"Could not create the Clearon thread.", late, 2) +
                  CmLine(L"Clearon stopping!", at, 1));
}

TEST(LogConvert, ForeignAndDamagedFiles) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        bool clearonLog;
        bool byteText;
        std::size_t entries;
    };
    const std::string utf8 = "07/04/2026 09:05:03:007 Clearon starting!\r\n";
    std::vector<std::uint8_t> oddTail = Utf16Bytes(L"Computer Name: WS1\r\n");
    oddTail.push_back('A');  // cut in the middle of a character
    const Case cases[] = {
        {{}, false, false, 0},
        {std::vector<std::uint8_t>(utf8.begin(), utf8.end()), false, true, 1},
        {Utf16Bytes(L"just some text\r\nmore\r\n"), false, false, 2},
        {oddTail, true, false, 1},
        {Utf16Bytes(L"07/04/2026 09:05:03:007Computer Name: WS2\r\n"), true, false, 1},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const DecodedLog log = DecodeLog(cases[i].bytes);
        EXPECT_EQ(log.clearonLog, cases[i].clearonLog) << i;
        EXPECT_EQ(log.byteText, cases[i].byteText) << i;
        EXPECT_EQ(log.entries.size(), cases[i].entries) << i;
    }
}

TEST(LogConvert, CommandLine) {
    const fs::path dir =
        fs::temp_directory_path() / ("clearon_log_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const auto write = [&](const char* name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return (dir / name).wstring();
    };
    const std::wstring run = write("Clearon.WS1.log", Utf16Bytes(L"Computer Name: WS1\r\n"));
    const std::wstring foreign = write("notes.log", {'h', 'i', '\r', '\n'});

    struct Case {
        std::vector<std::wstring> arguments;
        int status;
        std::wstring_view expected;  // found in the output
    };
    const Case cases[] = {
        {{L"log", run}, kLogConverted, L"Computer Name: WS1\r\n"},
        {{L"log", run, L"--utf8"}, kLogConverted, L"Computer Name: WS1\r\n"},
        {{L"log", run, L"--cmtrace"}, kLogConverted, L"<![LOG[Computer Name: WS1]LOG]!>"},
        {{L"log", foreign}, kLogForeign, L"single-byte text"},
        {{L"log", (dir / "gone.log").wstring()}, kLogUnreadable, L"cannot read the log"},
        {{L"log", run, L"--utf8", L"--cmtrace"}, kExitUsage, L"--cmtrace"},
        {{L"log"}, kExitUsage, L"log"},
        {{L"report", dir.wstring(), L"--cmtrace"}, kExitUsage, L"--cmtrace"},
    };
    for (const Case& c : cases) {
        std::wstring out;
        std::wstring err;
        EXPECT_EQ(RunCheck(c.arguments, CheckPlatform{}, out, err), c.status) << ToUtf8(err);
        // The text on stdout; what went wrong on stderr.
        const std::wstring& shown = c.status == kLogConverted ? out : err;
        EXPECT_NE(shown.find(c.expected), std::wstring::npos) << ToUtf8(out + err);
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace clearon::check
