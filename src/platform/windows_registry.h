// The real registry, through advapi32. Every operation opens its key, does
// its one thing and closes the key again.
#pragma once

#include "platform/registry.h"

namespace clearon {

class WindowsRegistry final : public Registry {
public:
    RegistryStatus QueryValue(RegistryRoot root, std::wstring_view key, std::wstring_view value,
                              std::size_t capacityBytes, RegistryValue& result) override;
    bool KeyExists(RegistryRoot root, std::wstring_view key) override;
    std::optional<std::uint32_t> SubkeyCount(RegistryRoot root, std::wstring_view key) override;
    std::optional<std::uint32_t> ValueCount(RegistryRoot root, std::wstring_view key) override;
    SubkeyStep EnumerateSubkey(RegistryRoot root, std::wstring_view key, std::uint32_t index,
                               std::size_t capacityChars) override;
    RegistryStatus SetValue(RegistryRoot root, std::wstring_view key, std::wstring_view value,
                            std::uint32_t type, const std::vector<std::uint8_t>& data) override;
    RegistryStatus DeleteValue(RegistryRoot root, std::wstring_view key,
                               std::wstring_view value) override;
    RegistryStatus CreateSubkey(RegistryRoot root, std::wstring_view parentKey,
                                std::wstring_view name, KeyLifetime lifetime) override;
    void Flush(RegistryRoot root, std::wstring_view key) override;
};

// The process-wide instance the tool uses.
[[nodiscard]] Registry& SystemRegistry() noexcept;

}  // namespace clearon
