// The Wine harness itself: a helper program runs and its exit code comes back.
#include <gtest/gtest.h>

#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

TEST(WineHarness, RunsHelperProgramAndReadsExitCode) {
    const auto result = RunAndWait(L"\"" + TestProgramPath(L"exit_with.exe") + L"\" 42", L"",
                                   std::chrono::seconds(30));
    ASSERT_TRUE(result.exitCode.has_value());
    EXPECT_EQ(*result.exitCode, 42u);
}

}  // namespace
}  // namespace clearon::test
