// The ClearonLastRun key over the in-memory registry: a start replaces what a
// previous run left, an end adds to it, and neither touches the volatile
// reboot marker beside it.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "resume/reboot_resume.h"
#include "startup/last_run.h"
#include "support/host/memory_registry.h"

namespace clearon {
namespace {

constexpr auto kMachine = RegistryRoot::LocalMachine;

std::optional<std::uint32_t> Dword(const test::MemoryRegistry& registry, std::wstring_view name) {
    const std::optional<RegistryValue> value = registry.Get(kMachine, kLastRunKey, name);
    if (!value || value->type != kRegDword || value->data.size() != 4) return std::nullopt;
    return value->data[0] | value->data[1] << 8 | value->data[2] << 16 |
           static_cast<std::uint32_t>(value->data[3]) << 24;
}

std::wstring String(test::MemoryRegistry& registry, std::wstring_view name) {
    return ReadRegistryString(registry, kMachine, kLastRunKey, name);
}

TEST(LastRun, TextsOfTimeAndDigest) {
    EXPECT_EQ(FormatUtcTime({2026, 12, 7, 16, 40, 0}), L"2026-12-07T16:40:00Z");
    EXPECT_EQ(FormatUtcTime({999, 1, 2, 3, 4, 5}), L"0999-01-02T03:04:05Z");
    const std::uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(LowerHex(bytes), L"000fa0ff");
}

TEST(LastRun, AStartReplacesThePreviousRunAndAnEndFinishesIt) {
    test::MemoryRegistry registry;
    // A previous run's finished key, and this boot's volatile marker.
    registry.CreateKey(kMachine, L"Software\\Tessaral");
    registry.CreateKey(kMachine, kClearonMarkerKey, true);
    registry.SetString(kMachine, kClearonMarkerKey, kRebootRequiredValue, L"1");
    StartLastRun(registry, {L"2026-01-01T00:00:00Z", L"aa"});
    FinishLastRun(registry, {1, L"2026-01-01T00:05:00Z", 2, OutcomeKind::ProductStayed});
    ASSERT_EQ(String(registry, kLastRunOutcome), L"product-stayed");

    const int flushes = registry.flushes;
    StartLastRun(registry, {L"2026-12-07T16:40:00Z", std::wstring(64, L'b')});
    EXPECT_GT(registry.flushes, flushes);
    EXPECT_FALSE(registry.IsVolatile(kMachine, kLastRunKey));
    EXPECT_FALSE(registry.IsVolatile(kMachine, L"Software\\Tessaral"));
    EXPECT_EQ(String(registry, kLastRunOutcome), L"running");
    EXPECT_EQ(String(registry, kLastRunStarted), L"2026-12-07T16:40:00Z");
    EXPECT_EQ(String(registry, kLastRunVersion), L"" CLEARON_VERSION_TEXT);
    EXPECT_EQ(String(registry, kLastRunConfigSha256), std::wstring(64, L'b'));
    for (const std::wstring_view gone :
         {kLastRunExitCode, kLastRunFinished, kLastRunProductsRemaining}) {
        EXPECT_FALSE(registry.Get(kMachine, kLastRunKey, gone));
    }

    FinishLastRun(registry, {1359, L"2026-12-07T16:41:02Z", 0, OutcomeKind::ClearonCode});
    EXPECT_EQ(String(registry, kLastRunOutcome), L"clearon-code");
    EXPECT_EQ(Dword(registry, kLastRunExitCode), 1359u);
    EXPECT_EQ(String(registry, kLastRunFinished), L"2026-12-07T16:41:02Z");
    EXPECT_EQ(Dword(registry, kLastRunProductsRemaining), 0u);
    EXPECT_EQ(String(registry, kLastRunStarted), L"2026-12-07T16:40:00Z");
    // The marker is neither touched nor made ordinary.
    EXPECT_TRUE(registry.IsVolatile(kMachine, kClearonMarkerKey));
    EXPECT_EQ(ReadRegistryString(registry, kMachine, kClearonMarkerKey, kRebootRequiredValue),
              L"1");
}

// A start stopped after any change: the key still tells the last run whole,
// or says "running"; never the last run's word beside a half-written start.
TEST(LastRun, AStartCutShortNeverShowsTheLastWordBesideItsOwnValues) {
    for (int allowed = 0;; ++allowed) {
        test::MemoryRegistry registry;
        registry.CreateKey(kMachine, L"Software\\Tessaral");
        StartLastRun(registry, {L"2026-01-01T00:00:00Z", L"aa"});
        FinishLastRun(registry, {0, L"2026-01-01T00:05:00Z", 0, OutcomeKind::Done});
        int changes = 0;
        registry.mayChange = [&] { return changes++ < allowed; };
        StartLastRun(registry, {L"2026-12-07T16:40:00Z", L"bb"});
        const bool whole = String(registry, kLastRunOutcome) == L"done" &&
                           String(registry, kLastRunStarted) == L"2026-01-01T00:00:00Z" &&
                           String(registry, kLastRunConfigSha256) == L"aa" &&
                           Dword(registry, kLastRunExitCode) == 0u;
        EXPECT_TRUE(whole || String(registry, kLastRunOutcome) == L"running") << allowed;
        if (changes <= allowed) break;  // the start ran to its end
    }
}

TEST(LastRun, AnEndWithoutAStartWritesNothing) {
    test::MemoryRegistry registry;
    FinishLastRun(registry, {0, L"2026-12-07T16:41:02Z", 0, OutcomeKind::Done});
    EXPECT_FALSE(registry.HasKey(kMachine, kLastRunKey));
    EXPECT_EQ(registry.writes, 0);
}

}  // namespace
}  // namespace clearon
