#include "config/config_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace clearon {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes Utf16Le(std::wstring_view text, bool withMark) {
    Bytes bytes;
    if (withMark) bytes = {0xFF, 0xFE};
    for (const wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr std::string_view kMinimal =
    "[Settings]\r\nShowGUI=Y\r\n[ProductNames]\r\nAcme AntiVirus\r\n";

TEST(CheckConfigFileSize, Limits) {
    const struct {
        std::uint64_t size;
        int expected;
    } cases[] = {
        {0, kExitConfigBlank},
        {1, 0},
        {65534, 0},
        {65535, 0},
        {65536, kExitConfigTooLarge},
        {0xFFFFFFFFull, kExitConfigTooLarge},  // GetFileSize's failure value
        {0x100000010ull, kExitConfigTooLarge},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckConfigFileSize(c.size), c.expected) << c.size;
}

TEST(ConfigErrorMessage, EachExitCodeHasItsText) {
    EXPECT_EQ(ConfigErrorMessage(kExitConfigMissing), L"The Clearon.ini file is missing.");
    EXPECT_EQ(ConfigErrorMessage(kExitConfigOpenFailed),
              L"The Clearon.ini file could not be opened.");
    EXPECT_EQ(ConfigErrorMessage(kExitConfigTooLarge), L"The Clearon.ini file is too large.");
    EXPECT_EQ(ConfigErrorMessage(kExitConfigBlank), L"The Clearon.ini file is blank.");
    EXPECT_EQ(ConfigErrorMessage(kExitConfigReadFailed),
              L"The Clearon.ini file could not be read.");
    EXPECT_EQ(ConfigErrorMessage(kExitConfigBadFormat),
              L"The Clearon.ini file is not in the correct format or is not a valid config file.");
    EXPECT_EQ(ConfigErrorMessage(0), L"");
    EXPECT_EQ(ConfigErrorMessage(1), L"");
}

TEST(DecodeUtf16Le, PairsBytesAndStopsAtZero) {
    const struct {
        Bytes bytes;
        std::wstring expected;
    } cases[] = {
        {{}, L""},
        {{'a', 0, 'b', 0}, L"ab"},
        {{0xFF, 0xFE, 'a', 0}, L"\uFEFFa"},
        {{'a', 0, 'b'}, L"ab"},  // odd last byte meets a zero high byte
        {{'a', 0, 0, 0, 'b', 0}, L"a"},
        {{'a', 'b'}, std::wstring(1, static_cast<wchar_t>(0x6261))},
        {{0xE9, 0x00, 0x00, 0xD8}, L"\u00E9\xD800"},  // no surrogate checking
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeUtf16Le(c.bytes), c.expected);
}

TEST(DecodeSignExtended, WidensBytesBySignExtension) {
    const struct {
        Bytes bytes;
        std::wstring expected;
    } cases[] = {
        {{}, L""},
        {{'A', 0x7F}, L"A\x7F"},
        {{0x80, 0xE9, 0xFF},
         std::wstring{static_cast<wchar_t>(0xFF80), static_cast<wchar_t>(0xFFE9),
                      static_cast<wchar_t>(0xFFFF)}},
        {{'a', 0, 'b'}, L"a"},
        {{0, 'a'}, L""},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeSignExtended(c.bytes), c.expected);
}

struct DecodeCase {
    const char* name;
    Bytes bytes;
    int expected;
    std::optional<std::wstring> text;  // checked when set and accepted
};

TEST(DecodeConfigBytes, ChoosesAndValidatesTheEncoding) {
    const std::wstring minimal(kMinimal.begin(), kMinimal.end());
    const DecodeCase cases[] = {
        {"ascii crlf", Ascii(kMinimal), 0, minimal},
        {"utf16 with mark keeps it first", Utf16Le(minimal, true), 0, L"\uFEFF" + minimal},
        {"utf16 without mark", Utf16Le(minimal, false), 0, minimal},
        {"utf8 with mark", Concat({0xEF, 0xBB, 0xBF}, Ascii(kMinimal)), kExitConfigBadFormat, {}},
        {"utf8 without mark passes as single bytes",
         Concat(Ascii(kMinimal), {'C', 'a', 'f', 0xC3, 0xA9}), 0,
         minimal + L"Caf" + static_cast<wchar_t>(0xFFC3) + static_cast<wchar_t>(0xFFA9)},
        {"byte E9", Concat(Ascii(kMinimal), {0xE9}), 0, minimal + static_cast<wchar_t>(0xFFE9)},
        {"markers only in capital comments",
         Ascii(";[SETTINGS] are below\r\n;[PRODUCTNAMES] too\r\nShowGUI=Y\r\n"),
         0,
         {}},
        {"markers in any case inside words", Ascii("x[settings]y [productNAMES]"), 0, {}},
        {"no product names",
         Ascii("[Settings]\r\nShowGUI=Y\r\nAskBeforeRemoval=N\r\n"),
         kExitConfigBadFormat,
         {}},
        {"no settings", Ascii("[ProductNames]\r\nAcme\r\n"), kExitConfigBadFormat, {}},
        {"byte 0 ends the text", Concat(Ascii(kMinimal), Concat({0}, Ascii("Lost\r\n"))), 0,
         minimal},
        {"byte 0 before a marker",
         Concat(Ascii("[Settings]\r\n"), Concat({0}, Ascii("[ProductNames]"))),
         kExitConfigBadFormat,
         {}},
        {"odd byte count, single byte", Ascii("[Settings]\r\n[ProductNames]\r\nX"), 0,
         L"[Settings]\r\n[ProductNames]\r\nX"},
        {"odd byte count, utf16", Concat(Utf16Le(minimal, true), {'Z'}), 0,
         L"\uFEFF" + minimal + L"Z"},
        {"utf16 char 0 ends the text",
         Concat(Utf16Le(minimal, true), Utf16Le(std::wstring_view(L"\0tail", 5), false)), 0,
         L"\uFEFF" + minimal},
        {"first character FFEF in utf16 is refused",
         Concat({0xEF, 0xFF}, Utf16Le(minimal, false)),
         kExitConfigBadFormat,
         {}},
        {"blank text", Ascii("   \r\n"), kExitConfigBadFormat, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::span<const std::uint8_t> second(c.bytes);
        std::wstring text = L"untouched";
        const int result = DecodeConfigBytes(c.bytes, &second, text);
        EXPECT_EQ(result, c.expected);
        if (result != 0) {
            EXPECT_EQ(text, L"untouched");
        } else if (c.text) {
            EXPECT_EQ(text, *c.text);
        }
    }
}

TEST(DecodeConfigBytes, FailedSecondReadIsAFormatError) {
    const Bytes ascii = Ascii(kMinimal);
    std::wstring text;
    EXPECT_EQ(DecodeConfigBytes(ascii, nullptr, text), kExitConfigBadFormat);
    // A UTF-16 file never needs the second read.
    const Bytes wide = Utf16Le(L"[Settings]\r\n[ProductNames]\r\n", true);
    EXPECT_EQ(DecodeConfigBytes(wide, nullptr, text), 0);
    EXPECT_EQ(text, L"\uFEFF[Settings]\r\n[ProductNames]\r\n");
}

TEST(DecodeConfigBytes, CapacityOfConfigText) {
    const auto fileOf = [](std::size_t size, bool zeroAtEnd) {
        Bytes bytes = Ascii(kMinimal);
        bytes.resize(size, 'x');
        if (zeroAtEnd) bytes.back() = 0;
        return bytes;
    };
    const struct {
        std::size_t size;
        bool zeroAtEnd;
        int expected;
        std::size_t length;
    } cases[] = {
        {65534, false, 0, 65534},
        {65535, true, 0, 65534},
        {65535, false, kExitConfigTooLarge, 0},  // one character more than fits
        {65536, false, kExitConfigTooLarge, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes bytes = fileOf(c.size, c.zeroAtEnd);
        const std::span<const std::uint8_t> second(bytes);
        std::wstring text;
        EXPECT_EQ(DecodeConfigBytes(bytes, &second, text), c.expected);
        EXPECT_EQ(text.size(), c.length);
    }
}

TEST(IsValidConfigText, MarkersAndFirstCharacter) {
    EXPECT_TRUE(IsValidConfigText(L"[Settings][ProductNames]"));
    EXPECT_TRUE(IsValidConfigText(L"\uFEFF[Settings][ProductNames]"));
    EXPECT_FALSE(IsValidConfigText(std::wstring(1, static_cast<wchar_t>(0xFFEF)) +
                                   L"[Settings][ProductNames]"));
    EXPECT_FALSE(IsValidConfigText(L"[Settings] [Product Names]"));
    EXPECT_FALSE(IsValidConfigText(L""));
}

}  // namespace
}  // namespace clearon
