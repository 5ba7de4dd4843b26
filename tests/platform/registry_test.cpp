#include "platform/registry.h"

#include <gtest/gtest.h>

#include "support/host/memory_registry.h"

namespace clearon {
namespace {

using test::MemoryRegistry;
using test::Utf16Bytes;

struct DecodeCase {
    const char* what;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    std::wstring expected;
};

TEST(DecodeRegistryString, NeverReadsAnUnterminatedString) {
    const std::wstring full254(254, L'a');
    const std::wstring full255(255, L'b');
    const DecodeCase cases[] = {
        {"terminated", kRegSz, Utf16Bytes(std::wstring(L"Acme\0", 5)), L"Acme"},
        {"written without its NUL", kRegSz, Utf16Bytes(L"Acme"), L"Acme"},
        {"254 characters and NUL", kRegSz, Utf16Bytes(full254 + std::wstring(1, L'\0')), full254},
        {"510 bytes, no NUL", kRegSz, Utf16Bytes(full255), L""},
        {"expand string", kRegExpandSz, Utf16Bytes(std::wstring(L"%X%\0", 4)), L"%X%"},
        {"multi string: first string", kRegMultiSz, Utf16Bytes(std::wstring(L"a\0b\0\0", 5)), L"a"},
        {"DWORD", kRegDword, {1, 0, 0, 0}, L""},
        {"binary", kRegBinary, Utf16Bytes(L"Acme"), L""},
        {"odd byte count", kRegSz, {'A', 0, 'c'}, L"A"},
        {"empty", kRegSz, {}, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeRegistryString(RegistryValue{c.type, c.data}), c.expected) << c.what;
    }
}

TEST(ReadRegistryString, MissingTooLongOrFailingValuesReadEmpty) {
    MemoryRegistry registry;
    registry.SetString(RegistryRoot::LocalMachine, L"SOFTWARE\\Acme", L"DisplayName", L"Acme AV");
    registry.SetString(RegistryRoot::LocalMachine, L"SOFTWARE\\Acme", L"Long",
                       std::wstring(300, L'x'));
    EXPECT_EQ(
        ReadRegistryString(registry, RegistryRoot::LocalMachine, L"software\\ACME", L"displayname"),
        L"Acme AV");
    EXPECT_EQ(ReadRegistryString(registry, RegistryRoot::LocalMachine, L"SOFTWARE\\Acme", L"Long"),
              L"");
    EXPECT_EQ(ReadRegistryString(registry, RegistryRoot::LocalMachine, L"SOFTWARE\\Acme", L"Nope"),
              L"");
    EXPECT_EQ(
        ReadRegistryString(registry, RegistryRoot::CurrentUser, L"SOFTWARE\\Acme", L"DisplayName"),
        L"");
    registry.onQuery = [](std::wstring_view, std::wstring_view) {
        return std::optional<RegistryStatus>(RegistryStatus::Failed);
    };
    EXPECT_EQ(
        ReadRegistryString(registry, RegistryRoot::LocalMachine, L"SOFTWARE\\Acme", L"DisplayName"),
        L"");
}

}  // namespace
}  // namespace clearon
