// A registry that can only be read: every read goes to the registry it
// wraps, every write is refused without reaching it. The preview walks the
// machine through this, so no path through Clearon's own functions can
// change anything, whatever they would try.
#pragma once

#include "platform/registry.h"

namespace clearon::check {

class ReadOnlyRegistry final : public Registry {
public:
    explicit ReadOnlyRegistry(Registry& inner) noexcept : inner_(inner) {}

    RegistryStatus QueryValue(RegistryRoot root, std::wstring_view key, std::wstring_view value,
                              std::size_t capacityBytes, RegistryValue& result) override {
        return inner_.QueryValue(root, key, value, capacityBytes, result);
    }
    bool KeyExists(RegistryRoot root, std::wstring_view key) override {
        return inner_.KeyExists(root, key);
    }
    std::optional<std::uint32_t> SubkeyCount(RegistryRoot root, std::wstring_view key) override {
        return inner_.SubkeyCount(root, key);
    }
    std::optional<std::uint32_t> ValueCount(RegistryRoot root, std::wstring_view key) override {
        return inner_.ValueCount(root, key);
    }
    SubkeyStep EnumerateSubkey(RegistryRoot root, std::wstring_view key, std::uint32_t index,
                               std::size_t capacityChars) override {
        return inner_.EnumerateSubkey(root, key, index, capacityChars);
    }
    RegistryStatus SetValue(RegistryRoot, std::wstring_view, std::wstring_view, std::uint32_t,
                            const std::vector<std::uint8_t>&) override {
        ++refusedWrites_;
        return RegistryStatus::Failed;
    }
    RegistryStatus DeleteValue(RegistryRoot, std::wstring_view, std::wstring_view) override {
        ++refusedWrites_;
        return RegistryStatus::Failed;
    }
    RegistryStatus CreateSubkey(RegistryRoot, std::wstring_view, std::wstring_view,
                                KeyLifetime) override {
        ++refusedWrites_;
        return RegistryStatus::Failed;
    }

    // Writes that were asked for and refused: none, if the preview is what
    // it claims to be.
    [[nodiscard]] int refusedWrites() const noexcept { return refusedWrites_; }

private:
    Registry& inner_;
    int refusedWrites_ = 0;
};

}  // namespace clearon::check
