#include "config/config_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace clearon {
namespace {

std::vector<std::wstring> Lines(std::wstring_view config, LineSpaces spaces) {
    std::vector<std::wstring> lines;
    ForEachConfigLine(config, spaces, [&](std::wstring_view line) {
        lines.emplace_back(line);
        return true;
    });
    return lines;
}

struct LineCase {
    const char* name;
    std::wstring config;
    LineSpaces spaces;
    std::vector<std::wstring> expected;
};

TEST(ForEachConfigLine, LineRule) {
    const LineCase cases[] = {
        {"crlf keeps the line whole",
         L"LogPath=C:\\Logs\r\nx",
         LineSpaces::Keep,
         {L"LogPath=C:\\Logs", L"x"}},
        {"bare line feed takes the last character",
         L"LogPath=C:\\Logs\nx",
         LineSpaces::Keep,
         {L"LogPath=C:\\Log", L"x"}},
        {"last line without line end is whole", L"a\r\nlast", LineSpaces::Keep, {L"a", L"last"}},
        {"final line end gives an empty last line", L"a\r\n", LineSpaces::Keep, {L"a", L""}},
        {"line feeds with nothing before them", L"\n\nx", LineSpaces::Keep, {L"", L"", L"x"}},
        {"lone carriage return before line feed", L"\r\n\r\n", LineSpaces::Keep, {L"", L"", L""}},
        {"empty text is one empty line", L"", LineSpaces::Keep, {L""}},
        {"byte-order mark stays on the first line",
         L"\uFEFF[Settings]\r\nA",
         LineSpaces::Keep,
         {L"\uFEFF[Settings]", L"A"}},
        {"spaces kept", L"  Show GUI = Y \r\n", LineSpaces::Keep, {L"  Show GUI = Y ", L""}},
        {"spaces dropped", L"  Show GUI = Y \r\n", LineSpaces::Drop, {L"ShowGUI=Y", L""}},
        {"dropped spaces: the last non-space goes with a bare line feed",
         L"ab  \nc",
         LineSpaces::Drop,
         {L"a", L"c"}},
        {"tabs are not spaces", L"a\tb c\r\n", LineSpaces::Drop, {L"a\tbc", L""}},
        {"a line of spaces is empty", L"   \r\n;x", LineSpaces::Drop, {L"", L";x"}},
        {"embedded character 0 is the end",
         std::wstring(L"a\nb\0c\nd", 7),
         LineSpaces::Keep,
         {L"", L"b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Lines(c.config, c.spaces), c.expected);
    }
}

TEST(ForEachConfigLine, StopsWhenAsked) {
    std::vector<std::wstring> seen;
    ForEachConfigLine(L"a\r\nb\r\nc", LineSpaces::Keep, [&](std::wstring_view line) {
        seen.emplace_back(line);
        return line != L"b";
    });
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"a", L"b"}));
}

TEST(SectionRule, LineTests) {
    const struct {
        std::wstring line;
        bool ends;
        bool startsSettings;
        bool comment;
    } cases[] = {
        {L"[Settings]", true, true, false},
        {L"[SETTINGS]", true, true, false},
        {L"x[settings]y", true, true, false},
        {L";[Settings] here", true, true, true},
        {L"Note=see [x]", true, false, false},
        {L"a]b[c", true, false, false},
        {L"[unclosed", false, false, false},
        {L"Settings", false, false, false},
        {L"; comment", false, false, true},
        {L" ;not a comment here", false, false, false},
        {L"", false, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EndsSection(c.line), c.ends) << c.line.size();
        EXPECT_EQ(StartsSection(c.line, kSettingsHeader), c.startsSettings) << c.line.size();
        EXPECT_EQ(IsCommentLine(c.line), c.comment) << c.line.size();
    }
}

struct Entry {
    std::wstring text;
    bool tooLong;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> Entries(std::wstring_view config, std::wstring_view header) {
    std::vector<Entry> entries;
    ForEachSectionEntry(config, header, [&](const SectionEntry& entry) {
        entries.push_back({std::wstring(entry.text), entry.tooLong});
        return true;
    });
    return entries;
}

struct SectionCase {
    const char* name;
    std::wstring config;
    std::vector<Entry> expected;
};

TEST(ForEachSectionEntry, SectionRule) {
    const std::wstring at254(kMaxLineLength, L'p');
    const std::wstring at255(kMaxLineLength + 1, L'q');
    const SectionCase cases[] = {
        {"entries with spaces kept, comments skipped",
         L"[Settings]\r\nA=1\r\n[ProductNames]\r\nAcme AntiVirus\r\n;Old Product\r\n ;Spaced\r\n",
         {{L"Acme AntiVirus", false}, {L" ;Spaced", false}, {L"", false}}},
        {"header found in any case and inside a line",
         L"x[PRODUCTNAMES]y\r\nAcme\r\n[Other]\r\nNot\r\n[productnames]\r\nBeta",
         {{L"Acme", false}, {L"Beta", false}}},
        {"bracketed word ends the section",
         L"[ProductNames]\r\nA\r\nNote [x]\r\nB\r\n",
         {{L"A", false}}},
        {"comment with brackets ends the section",
         L"[ProductNames]\r\nA\r\n;[old]\r\nB",
         {{L"A", false}}},
        {"comment with the header starts the section",
         L";[ProductNames] below\r\nA\r\nB",
         {{L"A", false}, {L"B", false}}},
        {"no header, no entries", L"[Settings]\r\nA\r\nB", {}},
        {"bare line feeds cut entries",
         L"[ProductNames]\r\nAcme\nBeta",
         {{L"Acm", false}, {L"Beta", false}}},
        {"a bare line feed cuts the header's bracket", L"[ProductNames]\nAcme\nBeta", {}},
        {"254 characters fit, 255 do not",
         L"[ProductNames]\r\n" + at254 + L"\r\n" + at255 + L"\r\nZ",
         {{at254, false}, {at255, true}, {L"Z", false}}},
        {"a long bracketed line still ends the section",
         L"[ProductNames]\r\nA\r\n[" + at255 + L"]\r\nB",
         {{L"A", false}}},
        {"a long line holding the header still starts the section",
         L"[Settings]\r\n" + at255 + L"[ProductNames]\r\nA",
         {{L"A", false}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Entries(c.config, kProductNamesHeader), c.expected);
    }
}

TEST(ForEachSectionEntry, StopsWhenAsked) {
    int visits = 0;
    ForEachSectionEntry(L"[UninstallPaths]\r\nA\r\nB\r\nC", kUninstallPathsHeader,
                        [&](const SectionEntry&) { return ++visits < 2; });
    EXPECT_EQ(visits, 2);
}

}  // namespace
}  // namespace clearon
