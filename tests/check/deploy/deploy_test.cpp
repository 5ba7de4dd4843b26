// deploy's answers where Clearon.exe did not start or its own code differs
// from the mapped one: what the Windows part decides from plain values.
#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "check/cli/check_json.h"
#include "check/cli/check_text.h"
#include "check/deploy/deploy.h"

namespace clearon::check {
namespace {

TEST(Deploy, AClearonThatDoesNotStartEndsWithACodeOfItsOwn) {
    const struct {
        std::uint32_t windowsError;
        int code;
        const wchar_t* text;
    } cases[] = {
        // Clearon.exe's manifest asks for administrator rights.
        {kWindowsElevationRequired, kCheckNotElevated,
         L"Clearon.exe requires administrator rights: run deploy elevated"},
        {2, kCheckClearonNotStarted, L"C:\\Pkg\\Clearon.exe is missing"},
        {3, kCheckClearonNotStarted, L"C:\\Pkg\\Clearon.exe is missing"},
        {193, kCheckClearonNotStarted, L"(Windows error 193)"},  // not a valid program
    };
    for (const auto& c : cases) {
        const RunOutcome outcome = NotStartedOutcome(c.windowsError, L"C:\\Pkg\\Clearon.exe");
        EXPECT_EQ(outcome.exitCode, c.code) << c.windowsError;
        EXPECT_NE(outcome.text.find(c.text), std::wstring::npos) << ToUtf8(outcome.text);
    }
}

TEST(Deploy, ClearonsOwnExitCodeStandsBesideTheMappedOne) {
    // Clearon ended with 0 while Aegira's installer failed: both are shown.
    const RunOutcome failed{1625, OutcomeKind::InstallerFailed, L"installer failed"};
    EXPECT_EQ(DeployLine(failed, 0u),
              L"Clearon: installer failed (exit 1625); Clearon.exe's own exit code: 0");
    EXPECT_EQ(DeployLine(failed, std::nullopt),
              L"Clearon: installer failed (exit 1625); Clearon.exe's own exit code: none");
    const struct {
        std::optional<std::uint32_t> clearon;
        nlohmann::json expected;
    } cases[] = {{0u, 0}, {0xC0000005u, 3221225477u}, {std::nullopt, nullptr}};
    for (const auto& c : cases) {
        const auto json =
            nlohmann::json::parse(ToUtf8(DeployJson(L"", nullptr, failed, c.clearon)));
        EXPECT_EQ(json.at("clearon_exit_code"), c.expected);
        EXPECT_EQ(json.at("exit_code"), 1625);
    }
    // result has no process to ask.
    EXPECT_FALSE(nlohmann::json::parse(ToUtf8(ResultJson(L"", nullptr, failed)))
                     .contains("clearon_exit_code"));
}

}  // namespace
}  // namespace clearon::check
