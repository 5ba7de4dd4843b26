// Clearon.exe meeting good and bad configuration files, as an administrator
// would see it: the exit code, the "Information" box and Clearon_Err.log.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "startup/clearon_run.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

std::vector<std::uint8_t> Ascii(const std::string& text) {
    return {text.begin(), text.end()};
}

// A valid configuration of exactly `size` bytes: the two headers, then a
// comment padded with "x".
std::vector<std::uint8_t> AsciiConfigOfSize(std::size_t size) {
    std::vector<std::uint8_t> bytes = Ascii("[Settings]\r\n[ProductNames]\r\n;");
    bytes.resize(size, 'x');
    return bytes;
}

std::vector<std::uint8_t> Utf16Config(const std::wstring& text, bool withBom) {
    std::vector<std::uint8_t> bytes;
    if (withBom) bytes = {0xFF, 0xFE};
    const auto body = Utf16LeBytes(text);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

constexpr std::uint8_t kUtf8Bom[] = {0xEF, 0xBB, 0xBF};

struct ConfigCase {
    const char* name;
    std::vector<std::uint8_t> (*content)();  // nullptr: no Clearon.ini at all
    DWORD exitCode;
    const wchar_t* message;  // nullptr: no message, a normal start
};

const ConfigCase kConfigCases[] = {
    {"Missing", nullptr, 2, L"The Clearon.ini file is missing."},
    {"Blank", [] { return std::vector<std::uint8_t>(); }, 38, L"The Clearon.ini file is blank."},
    {"OneByteOverTheLimit", [] { return AsciiConfigOfSize(65536); }, 223,
     L"The Clearon.ini file is too large."},
    // 65,535 bytes pass the size test. A single-byte file that long with no
    // byte 0 would decode to one character more than the configuration can
    // hold and is refused as too large rather than cut; with a byte 0 at the
    // end the text stops there and fits.
    {"LargestFileEndingInZero",
     [] {
         auto bytes = AsciiConfigOfSize(65535);
         bytes.back() = 0;
         return bytes;
     },
     0, nullptr},
    {"LargestSingleByteFileWithoutZero", [] { return AsciiConfigOfSize(65535); }, 223,
     L"The Clearon.ini file is too large."},
    {"LargestUtf16File",
     [] {
         auto bytes = Utf16Config(L"[Settings]\r\n[ProductNames]\r\n;", true);
         bytes.resize(65535, 'x');  // pairs of "x" are U+7878; the odd last byte pairs with 0
         return bytes;
     },
     0, nullptr},
    {"Utf16WithBom",
     [] {
         return Utf16Config(L"[Settings]\r\nEnableLogging=Y\r\n[ProductNames]\r\nAcme\r\n", true);
     },
     0, nullptr},
    {"Utf16WithoutBom", [] { return Utf16Config(L"[settings]\r\n[PRODUCTNAMES]\r\n", false); }, 0,
     nullptr},
    {"Utf8WithBom",
     [] {
         auto bytes = Ascii("[Settings]\r\n[ProductNames]\r\n");
         bytes.insert(bytes.begin(), std::begin(kUtf8Bom), std::end(kUtf8Bom));
         return bytes;
     },
     13, L"The Clearon.ini file is not in the correct format or is not a valid config file."},
    {"Utf8WithoutBom", [] { return Ascii("[Settings]\n[ProductNames]\nCaf\xC3\xA9\n"); }, 0,
     nullptr},
    {"MarkersOnlyInCapitalComments", [] { return Ascii(";[SETTINGS]\r\n;[PRODUCTNAMES]\r\n"); }, 0,
     nullptr},
    {"NoProductNames", [] { return Ascii("[Settings]\r\nShowGUI=N\r\nEnableLogging=Y\r\n"); }, 13,
     L"The Clearon.ini file is not in the correct format or is not a valid config file."},
    {"ZeroByteBeforeTheMarkers",
     [] {
         auto bytes = Ascii("[Settings]\r\n");
         bytes.push_back(0);
         const auto rest = Ascii("[ProductNames]\r\n");
         bytes.insert(bytes.end(), rest.begin(), rest.end());
         return bytes;
     },
     13, L"The Clearon.ini file is not in the correct format or is not a valid config file."},
};

class ConfigFileTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigFileTest, EndsWithItsExitCodeAndMessage) {
    const ConfigCase& c = GetParam();
    ScratchDir dir(L"config-" + std::wstring(c.name, c.name + strlen(c.name)));
    if (c.content != nullptr) WriteBytes(dir / L"Clearon.ini", c.content());

    const ClearonRun run = RunAnsweringBoxes(dir);

    ASSERT_TRUE(run.process.exitCode.has_value()) << "Clearon.exe did not end";
    EXPECT_EQ(*run.process.exitCode, c.exitCode);
    EXPECT_EQ(run.process.standardOutput, "") << "a message box run prints nothing";
    if (c.message == nullptr) {
        EXPECT_TRUE(run.boxes.empty());
        EXPECT_FALSE(FileExists(dir / std::wstring(kErrorLogName)));
        ExpectOneRun(LogLines(ReadUtf16File(dir / RunLogName())));
        return;
    }
    // One box, captioned "Information", with the message exactly; the same
    // text and a line end in the error log, UTF-16LE from its first byte.
    EXPECT_EQ(run.boxes, std::vector<std::wstring>{c.message});
    EXPECT_EQ(ReadBytes(dir / std::wstring(kErrorLogName)),
              Utf16LeBytes(std::wstring(c.message) + L"\r\n"));
    EXPECT_FALSE(FileExists(dir / RunLogName())) << "no run log before the settings are read";
}

INSTANTIATE_TEST_SUITE_P(Startup, ConfigFileTest, ::testing::ValuesIn(kConfigCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// The box is a real "Information" box with one OK button; it is read and
// pressed here by hand, as a person would.
TEST(ConfigFile, TooLargeShowsTheMessageInAnInformationBox) {
    ScratchDir dir(L"config-box");
    WriteBytes(dir / L"Clearon.ini", AsciiConfigOfSize(65536));
    CopyFileOrFail(ClearonExePath(), dir / L"Clearon.exe");

    ProcessResult result;
    std::thread runner([&] { result = RunClearon(dir, L"", std::chrono::seconds(60)); });
    const HWND box = WaitForWindow(std::wstring(kInformationCaption), std::chrono::seconds(30));
    std::vector<std::wstring> texts;
    bool pressed = false;
    if (box != nullptr) {
        for (const auto& text : StaticTexts(box)) {
            if (!text.empty()) texts.push_back(text);
        }
        pressed = PressButtonByText(box, L"OK");
    }
    runner.join();

    ASSERT_NE(box, nullptr) << "no Information box";
    EXPECT_EQ(texts, std::vector<std::wstring>{L"The Clearon.ini file is too large."});
    EXPECT_TRUE(pressed) << "the box has no OK button";
    ASSERT_TRUE(result.exitCode.has_value());
    EXPECT_EQ(*result.exitCode, 223u);
}

// Another program holds the file open without sharing: Clearon cannot open it.
TEST(ConfigFile, FileHeldOpenElsewhereCannotBeOpened) {
    ScratchDir dir(L"config-locked");
    WriteBytes(dir / L"Clearon.ini", Ascii("[Settings]\r\n[ProductNames]\r\n"));
    ClearonRun run;
    {
        UniqueFileHandle holder(CreateFileW((dir / L"Clearon.ini").c_str(), GENERIC_READ, 0,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
        ASSERT_TRUE(holder.valid());
        run = RunAnsweringBoxes(dir);
    }
    ASSERT_TRUE(run.process.exitCode.has_value());
    EXPECT_EQ(*run.process.exitCode, 110u);
    EXPECT_EQ(run.boxes, std::vector<std::wstring>{L"The Clearon.ini file could not be opened."});
    EXPECT_EQ(ReadBytes(dir / std::wstring(kErrorLogName)),
              Utf16LeBytes(L"The Clearon.ini file could not be opened.\r\n"));

    // Once the other program lets go, the same file starts normally.
    const ClearonRun again = RunAnsweringBoxes(dir);
    ASSERT_TRUE(again.process.exitCode.has_value());
    EXPECT_EQ(*again.process.exitCode, 0u);
}

// A file that opens and has a size but whose bytes cannot be read: Clearon.ini
// is a link to a Linux file that fails every read (the speed of the loopback
// network device reads as "Invalid argument").
TEST(ConfigFile, FileThatFailsToReadEndsWith30) {
    const std::wstring unreadable = L"Z:\\sys\\class\\net\\lo\\speed";
    if (!FileExists(unreadable)) GTEST_SKIP() << "this machine has no /sys/class/net/lo/speed";
    ScratchDir dir(L"config-unreadable");
    const std::string link = UnixPathOf(dir / L"Clearon.ini");
    ASSERT_FALSE(link.empty());
    ASSERT_TRUE(StartLinuxCommand("Z:\\bin\\ln -s /sys/class/net/lo/speed \"" + link + "\""));
    ASSERT_TRUE(WaitForFile(dir / L"Clearon.ini", std::chrono::seconds(10)));

    const ClearonRun run = RunAnsweringBoxes(dir);
    ASSERT_TRUE(run.process.exitCode.has_value());
    EXPECT_EQ(*run.process.exitCode, 30u);
    EXPECT_EQ(run.boxes, std::vector<std::wstring>{L"The Clearon.ini file could not be read."});
    EXPECT_EQ(ReadBytes(dir / std::wstring(kErrorLogName)),
              Utf16LeBytes(L"The Clearon.ini file could not be read.\r\n"));
}

// A file past 4 GiB is too large, whatever its size modulo 4 GiB: here the
// low 32 bits of the size say 40 bytes. The file is sparse: it costs no disk.
TEST(ConfigFile, FilePastFourGibibytesIsTooLarge) {
    ScratchDir dir(L"config-huge");
    {
        UniqueFileHandle file(CreateFileW((dir / L"Clearon.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid());
        const std::string text = "[Settings]\r\n[ProductNames]\r\n";
        DWORD written = 0;
        ASSERT_TRUE(
            WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
        LARGE_INTEGER end{};
        end.QuadPart = (1LL << 32) + 40;
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    const ClearonRun run = RunAnsweringBoxes(dir);
    ASSERT_TRUE(run.process.exitCode.has_value());
    EXPECT_EQ(*run.process.exitCode, 223u);
    EXPECT_EQ(run.boxes, std::vector<std::wstring>{L"The Clearon.ini file is too large."});
}

// Every failed start appends to the same error log; nothing is overwritten.
TEST(ConfigFile, ErrorLogCollectsEveryFailedStart) {
    ScratchDir dir(L"config-twice");
    const ClearonRun first = RunAnsweringBoxes(dir);
    WriteBytes(dir / L"Clearon.ini", {});
    const ClearonRun second = RunAnsweringBoxes(dir);
    ASSERT_TRUE(first.process.exitCode.has_value() && second.process.exitCode.has_value());
    EXPECT_EQ(*first.process.exitCode, 2u);
    EXPECT_EQ(*second.process.exitCode, 38u);
    EXPECT_EQ(ReadUtf16File(dir / std::wstring(kErrorLogName)),
              L"The Clearon.ini file is missing.\r\nThe Clearon.ini file is blank.\r\n");
}

}  // namespace
}  // namespace clearon::test
