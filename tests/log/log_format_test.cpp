#include "log/log_format.h"

#include <gtest/gtest.h>

#include <string>

namespace clearon {
namespace {

TEST(FormatTimestamp, ZeroPaddedFixedWidth) {
    const struct {
        int month, day, year, hour, minute, second, millisecond;
        std::wstring expected;
    } cases[] = {
        {7, 4, 2026, 9, 5, 3, 7, L"07/04/2026 09:05:03:007"},
        {12, 6, 2026, 7, 5, 9, 42, L"12/06/2026 07:05:09:042"},
        {1, 1, 1601, 0, 0, 0, 0, L"01/01/1601 00:00:00:000"},
        {12, 31, 30827, 23, 59, 59, 999, L"12/31/30827 23:59:59:99"},  // held to 23 characters
        {12, 31, 2026, 23, 59, 59, 1000, L"12/31/2026 23:59:59:100"},
    };
    for (const auto& c : cases) {
        const std::wstring stamp =
            FormatTimestamp(c.month, c.day, c.year, c.hour, c.minute, c.second, c.millisecond);
        EXPECT_EQ(stamp, c.expected);
        EXPECT_EQ(stamp.size(), 23u);
    }
}

TEST(IsTimestamp, OnlyTheTimestampsShape) {
    const struct {
        std::wstring text;
        bool expected;
    } cases[] = {
        {L"07/04/2026 09:05:03:007", true},
        {L"07/04/2026 09:05:03.007", false},   // another separator
        {L"07/04/2026 09:05:03:07", false},    // one digit short
        {L"07/04/2026 09:05:03:0071", false},  // one too many
        {L"O7/04/2026 09:05:03:007", false},   // a letter for a digit
    };
    for (const auto& c : cases) EXPECT_EQ(IsTimestamp(c.text), c.expected) << c.text.size();
}

TEST(ErrorLogPath, BesideTheExecutable) {
    EXPECT_EQ(ErrorLogPath(L"C:\\Tools"), L"C:\\Tools\\Clearon_Err.log");
    EXPECT_EQ(ErrorLogPath(L"C:"), L"C:\\Clearon_Err.log");
}

}  // namespace
}  // namespace clearon
