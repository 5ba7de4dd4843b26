// The thin reads of the machine that the start-up relies on, on Wine's
// Windows: what they return, and how they treat values that do not fit.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform_info.h"
#include "support/win/wine_test_support.h"

namespace clearon {
namespace {

TEST(EnvironmentVariable, ReadsWholeValuesAndNeverCutsOne) {
    const std::wstring name = L"CLEARON_PLATFORM_INFO_TEST";
    const struct {
        const wchar_t* label;
        std::optional<std::wstring> value;  // nothing: undefined
        std::optional<std::wstring> expected;
    } cases[] = {
        {L"undefined", std::nullopt, std::nullopt},
        {L"empty", std::wstring(), std::wstring()},
        {L"short", std::wstring(L"C:\\Logs"), std::wstring(L"C:\\Logs")},
        {L"254 characters: fits", std::wstring(254, L'v'), std::wstring(254, L'v')},
        {L"255 characters: does not fit", std::wstring(255, L'v'), std::nullopt},
        {L"1000 characters", std::wstring(1000, L'v'), std::nullopt},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetEnvironmentVariableW(name.c_str(), c.value ? c.value->c_str() : nullptr));
        EXPECT_EQ(EnvironmentVariable(name), c.expected) << test::Narrow(c.label);
    }
    SetEnvironmentVariableW(name.c_str(), nullptr);
}

TEST(PlatformInfo, ReadsWhatWindowsSays) {
    const std::wstring module = ModulePath();
    EXPECT_TRUE(module.ends_with(L"\\platform_info_wine_test.exe")) << test::Narrow(module);

    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    EXPECT_EQ(SystemDirectory(), system);

    // A 64-bit Windows answers through the export looked up at run time.
    EXPECT_EQ(Wow64SystemDirectory(), L"C:\\windows\\syswow64");

    EXPECT_EQ(ComputerName(), test::ComputerName());

    EXPECT_TRUE(FreeBytesAvailable(L"C:\\").has_value());
    EXPECT_FALSE(FreeBytesAvailable(L"").has_value());
    ASSERT_FALSE(test::FileExists(L"Q:\\"));
    EXPECT_FALSE(FreeBytesAvailable(L"Q:\\").has_value()) << "a failed query is nothing, not zero";
}

}  // namespace
}  // namespace clearon
