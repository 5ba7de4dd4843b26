// ClearonCheck log's command line: the files it refuses and the switches it
// does not take. What it makes of each kind of log is in the gold corpus
// (log_corpus_test.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"
#include "support/host/memory_registry.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;
using clearon::test::Utf16Bytes;

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
        {{L"log", run, L"--utf8"}, kLogConverted, L"Computer Name: WS1\r\n"},
        {{L"log", foreign}, kLogForeign, L"single-byte text"},
        {{L"log", (dir / "gone.log").wstring()}, kLogUnreadable, L"cannot read the log"},
        {{L"log", run, L"--utf8", L"--cmtrace"}, kCheckUsage, L"--cmtrace"},
        {{L"log"}, kCheckUsage, L"log"},
        {{L"report", dir.wstring(), L"--cmtrace"}, kCheckUsage, L"--cmtrace"},
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
