#include "text/wide_string.h"

#include <gtest/gtest.h>

#include <string>

namespace clearon {
namespace {

struct ContainsCase {
    std::wstring text;
    std::wstring pattern;
    bool expected;
};

TEST(ContainsNoCase, WorkedResultsAndEdges) {
    const ContainsCase cases[] = {
        {L"McAfee VirusScan", L"virusscan", true},
        {L"abc", L"", true},
        {L"", L"", true},
        {L"", L"a", false},
        {L"\u00C4rger", L"\u00E4", false},  // only A-Z fold
        {L"\u00C4rger", L"\u00C4RGER", true},
        {L"Acme AntiVirus 2010 Pro", L"acme antivirus", true},
        {L"Acme AntiVirus 2010 Pro", L"Acme AntiVirus 2010 Professional", false},
        {L"[", L"[[", false},
        {L"x@y", L"X`Y", false},  // @ and ` sit next to A-Z but do not fold
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ContainsNoCase(c.text, c.pattern), c.expected)
            << "text=" << std::wstring(c.text).size() << " pattern size=" << c.pattern.size();
    }
}

TEST(EqualsNoCase, WholeTextsIgnoringOnlyTheCaseOfAToZ) {
    EXPECT_TRUE(EqualsNoCase(L"McAfee Agent", L"MCAFEE agent"));
    EXPECT_TRUE(EqualsNoCase(L"", L""));
    EXPECT_FALSE(EqualsNoCase(L"McAfee Agent", L"McAfee"));  // containment is not equality
    EXPECT_FALSE(EqualsNoCase(L"McAfee", L"McAfee Agent"));
    EXPECT_FALSE(EqualsNoCase(L"\u00C4", L"\u00E4"));
}

struct ReplaceCase {
    std::wstring text;
    std::wstring search;
    std::wstring replacement;
    std::wstring expected;
};

TEST(ReplaceNoCase, WorkedResults) {
    const ReplaceCase cases[] = {
        {L"C:\\WINDOWS\\System32\\x.exe", L"c:\\windows\\system32", L"C:\\Windows\\SysWOW64",
         L"C:\\Windows\\SysWOW64\\x.exe"},
        {L"aabb", L"ab", L"a", L"aa"},
        {L"xAbyaB", L"ab", L"", L"xy"},
        {L"%TEMP%", L"%", L"", L"TEMP"},
        {L"abc", L"z", L"y", L"abc"},
        {L"abc", L"b", L"xbx", L""},
        {L"abc", L"", L"x", L""},
        {L"abc", L"ab", L"xABx", L""},  // replacement holds the search text in other case
        {L"aabb", L"ab", L"", L""},     // removal brings new occurrences together
        {L"/AfterRunOnce /q", L"/AfterRunOnce", L"", L" /q"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplaceNoCase(c.text, c.search, c.replacement), c.expected);
    }
}

TEST(ReplaceNoCase, EndlessGrowthStopsAtCapacity) {
    // bbaa recreates "ab" where it meets its neighbours: every step grows the
    // text by two characters, so only the 511-character limit ends it.
    EXPECT_EQ(ReplaceNoCase(L"aabb", L"ab", L"bbaa"), L"");
}

TEST(ReplaceNoCase, CapacityBoundary) {
    const std::wstring full(kReplaceCapacity, L'x');
    EXPECT_EQ(ReplaceNoCase(full, L"q", L"r"), full);
    EXPECT_EQ(ReplaceNoCase(full + L"x", L"q", L"r"), L"");
    // A result of exactly 511 characters fits; one more does not.
    const std::wstring almost(kReplaceCapacity - 2, L'x');
    EXPECT_EQ(ReplaceNoCase(almost + L"y", L"y", L"zz").size(), kReplaceCapacity);
    EXPECT_EQ(ReplaceNoCase(almost + L"yy", L"y", L"zz"), L"");
}

}  // namespace
}  // namespace clearon
