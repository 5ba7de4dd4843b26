// An in-memory registry for host tests: keys and values as Windows keeps
// them (names compared ignoring the case of A-Z, subkeys enumerated in name
// order), with hooks to inject the faults a real machine shows.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace clearon::test {

class MemoryRegistry final : public Registry {
public:
    // --- building the machine -------------------------------------------
    void CreateKey(RegistryRoot root, std::wstring_view path, bool isVolatile = false);
    void SetRaw(RegistryRoot root, std::wstring_view path, std::wstring_view value,
                std::uint32_t type, std::vector<std::uint8_t> data);
    void SetString(RegistryRoot root, std::wstring_view path, std::wstring_view value,
                   std::wstring_view text);
    // A REG_MULTI_SZ from its characters exactly as given (embedded NULs and
    // the closing NUL are the caller's to include).
    void SetMultiString(RegistryRoot root, std::wstring_view path, std::wstring_view value,
                        std::wstring_view characters);
    void DeleteKeyTree(RegistryRoot root, std::wstring_view path);
    // Drops every volatile key, as a restart does.
    void Restart();

    // --- looking at it ----------------------------------------------------
    [[nodiscard]] bool HasKey(RegistryRoot root, std::wstring_view path) const;
    [[nodiscard]] bool IsVolatile(RegistryRoot root, std::wstring_view path) const;
    [[nodiscard]] std::optional<RegistryValue> Get(RegistryRoot root, std::wstring_view path,
                                                   std::wstring_view value) const;
    // A value's data as characters (for multi-strings and strings).
    [[nodiscard]] std::optional<std::wstring> GetCharacters(RegistryRoot root,
                                                            std::wstring_view path,
                                                            std::wstring_view value) const;

    // --- faults -------------------------------------------------------------
    // Each hook sees the operation and may return a status to fail it with;
    // returning nothing lets the operation run normally.
    using Fault = std::function<std::optional<RegistryStatus>(std::wstring_view key,
                                                              std::wstring_view value)>;
    Fault onQuery;   // QueryValue
    Fault onSet;     // SetValue
    Fault onDelete;  // DeleteValue
    Fault onOpen;    // every open of a key (value empty)
    // Asked before every change (a value set or deleted, a key created, a
    // key tree deleted): false refuses it (Failed). A kill sweep stops the
    // world's writer here.
    std::function<bool()> mayChange;
    // Told after every value set or deleted.
    std::function<void(RegistryRoot root, std::wstring_view key, std::wstring_view value)>
        afterChange;
    // Called after each successful query (for example to make an entry vanish
    // while a scan is under way).
    std::function<void(std::wstring_view key, std::wstring_view value)> afterQuery;

    // Counters for tests that must prove that nothing was touched.
    int writes = 0;   // SetValue, DeleteValue, CreateSubkey that changed something
    int queries = 0;  // QueryValue calls
    int flushes = 0;  // Flush calls

    // --- Registry -------------------------------------------------------------
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
    void Flush(RegistryRoot, std::wstring_view) override { ++flushes; }

private:
    struct FoldLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    struct Key {
        bool isVolatile = false;
        std::wstring name;  // as created
        std::map<std::wstring, RegistryValue, FoldLess> values;
        std::map<std::wstring, std::unique_ptr<Key>, FoldLess> subkeys;
    };
    Key* Find(RegistryRoot root, std::wstring_view path) const;
    Key* Make(RegistryRoot root, std::wstring_view path, bool isVolatile);
    std::optional<RegistryStatus> Opened(std::wstring_view key) const;
    bool Allowed() const;

    Key machine_;
    Key user_;
};

// Helpers to write test data.
[[nodiscard]] std::vector<std::uint8_t> Utf16Bytes(std::wstring_view characters);

}  // namespace clearon::test
