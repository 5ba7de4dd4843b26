#include "support/host/memory_registry.h"

#include <algorithm>

#include "text/wide_string.h"

namespace clearon::test {
namespace {

std::vector<std::wstring> SplitPath(std::wstring_view path) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

}  // namespace

std::vector<std::uint8_t> Utf16Bytes(std::wstring_view characters) {
    std::vector<std::uint8_t> bytes;
    for (wchar_t c : characters) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

bool MemoryRegistry::FoldLess::operator()(const std::wstring& a, const std::wstring& b) const {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](wchar_t x, wchar_t y) { return FoldAscii(x) < FoldAscii(y); });
}

MemoryRegistry::Key* MemoryRegistry::Find(RegistryRoot root, std::wstring_view path) const {
    const Key* key = root == RegistryRoot::CurrentUser ? &user_ : &machine_;
    for (const auto& part : SplitPath(path)) {
        const auto it = key->subkeys.find(part);
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return const_cast<Key*>(key);
}

MemoryRegistry::Key* MemoryRegistry::Make(RegistryRoot root, std::wstring_view path,
                                          bool isVolatile) {
    Key* key = root == RegistryRoot::CurrentUser ? &user_ : &machine_;
    for (const auto& part : SplitPath(path)) {
        auto& slot = key->subkeys[part];
        if (!slot) {
            slot = std::make_unique<Key>();
            slot->name = part;
            slot->isVolatile = isVolatile;
        }
        key = slot.get();
    }
    return key;
}

bool MemoryRegistry::Allowed() const {
    return !mayChange || mayChange();
}

std::optional<RegistryStatus> MemoryRegistry::Opened(std::wstring_view key) const {
    if (onOpen) return onOpen(key, L"");
    return std::nullopt;
}

void MemoryRegistry::CreateKey(RegistryRoot root, std::wstring_view path, bool isVolatile) {
    Make(root, path, isVolatile);
}

void MemoryRegistry::SetRaw(RegistryRoot root, std::wstring_view path, std::wstring_view value,
                            std::uint32_t type, std::vector<std::uint8_t> data) {
    Make(root, path, false)->values[std::wstring(value)] = RegistryValue{type, std::move(data)};
}

void MemoryRegistry::SetString(RegistryRoot root, std::wstring_view path, std::wstring_view value,
                               std::wstring_view text) {
    SetRaw(root, path, value, kRegSz, EncodeRegistryString(text));
}

void MemoryRegistry::SetMultiString(RegistryRoot root, std::wstring_view path,
                                    std::wstring_view value, std::wstring_view characters) {
    SetRaw(root, path, value, kRegMultiSz, Utf16Bytes(characters));
}

void MemoryRegistry::DeleteKeyTree(RegistryRoot root, std::wstring_view path) {
    auto parts = SplitPath(path);
    if (parts.empty()) return;
    const std::wstring last = parts.back();
    parts.pop_back();
    std::wstring parentPath;
    for (const auto& p : parts) parentPath += p + L"\\";
    Key* parent = Find(root, parentPath);
    if (parent == nullptr || parent->subkeys.count(last) == 0 || !Allowed()) return;
    parent->subkeys.erase(last);
}

void MemoryRegistry::Restart() {
    std::function<void(Key&)> prune = [&](Key& key) {
        for (auto it = key.subkeys.begin(); it != key.subkeys.end();) {
            if (it->second->isVolatile) {
                it = key.subkeys.erase(it);
            } else {
                prune(*it->second);
                ++it;
            }
        }
    };
    prune(machine_);
    prune(user_);
}

bool MemoryRegistry::HasKey(RegistryRoot root, std::wstring_view path) const {
    return Find(root, path) != nullptr;
}

bool MemoryRegistry::IsVolatile(RegistryRoot root, std::wstring_view path) const {
    const Key* key = Find(root, path);
    return key != nullptr && key->isVolatile;
}

std::optional<RegistryValue> MemoryRegistry::Get(RegistryRoot root, std::wstring_view path,
                                                 std::wstring_view value) const {
    const Key* key = Find(root, path);
    if (key == nullptr) return std::nullopt;
    const auto it = key->values.find(std::wstring(value));
    if (it == key->values.end()) return std::nullopt;
    return it->second;
}

std::optional<std::wstring> MemoryRegistry::GetCharacters(RegistryRoot root, std::wstring_view path,
                                                          std::wstring_view value) const {
    const auto found = Get(root, path, value);
    if (!found) return std::nullopt;
    std::wstring text;
    for (std::size_t i = 0; i + 1 < found->data.size(); i += 2) {
        text.push_back(static_cast<wchar_t>(found->data[i] | (found->data[i + 1] << 8)));
    }
    return text;
}

RegistryStatus MemoryRegistry::QueryValue(RegistryRoot root, std::wstring_view key,
                                          std::wstring_view value, std::size_t capacityBytes,
                                          RegistryValue& result) {
    ++queries;
    result = {};
    if (auto fault = Opened(key)) return *fault;
    if (onQuery) {
        if (auto fault = onQuery(key, value)) return *fault;
    }
    const Key* found = Find(root, key);
    if (found == nullptr) return RegistryStatus::NotFound;
    const auto it = found->values.find(std::wstring(value));
    if (it == found->values.end()) return RegistryStatus::NotFound;
    if (it->second.data.size() > capacityBytes) return RegistryStatus::MoreData;
    result = it->second;
    if (afterQuery) afterQuery(key, value);
    return RegistryStatus::Ok;
}

bool MemoryRegistry::KeyExists(RegistryRoot root, std::wstring_view key) {
    if (auto fault = Opened(key)) return *fault != RegistryStatus::NotFound;
    return Find(root, key) != nullptr;
}

std::optional<std::uint32_t> MemoryRegistry::SubkeyCount(RegistryRoot root, std::wstring_view key) {
    if (Opened(key)) return std::nullopt;
    const Key* found = Find(root, key);
    if (found == nullptr) return std::nullopt;
    return static_cast<std::uint32_t>(found->subkeys.size());
}

std::optional<std::uint32_t> MemoryRegistry::ValueCount(RegistryRoot root, std::wstring_view key) {
    if (Opened(key)) return std::nullopt;
    const Key* found = Find(root, key);
    if (found == nullptr) return std::nullopt;
    return static_cast<std::uint32_t>(found->values.size());
}

SubkeyStep MemoryRegistry::EnumerateSubkey(RegistryRoot root, std::wstring_view key,
                                           std::uint32_t index, std::size_t capacityChars) {
    if (Opened(key)) return {SubkeyStep::Kind::RootFailed, {}};
    const Key* found = Find(root, key);
    if (found == nullptr) return {SubkeyStep::Kind::RootFailed, {}};
    if (index >= found->subkeys.size()) return {SubkeyStep::Kind::EnumFailed, {}};
    auto it = found->subkeys.begin();
    std::advance(it, index);
    // RegEnumKeyExW fails with ERROR_MORE_DATA for a name that does not fit.
    if (it->second->name.size() + 1 > capacityChars) return {SubkeyStep::Kind::EnumFailed, {}};
    return {SubkeyStep::Kind::Ok, it->second->name};
}

RegistryStatus MemoryRegistry::SetValue(RegistryRoot root, std::wstring_view key,
                                        std::wstring_view value, std::uint32_t type,
                                        const std::vector<std::uint8_t>& data) {
    if (auto fault = Opened(key)) return *fault;
    if (onSet) {
        if (auto fault = onSet(key, value)) return *fault;
    }
    Key* found = Find(root, key);
    if (found == nullptr) return RegistryStatus::NotFound;
    if (!Allowed()) return RegistryStatus::Failed;
    found->values[std::wstring(value)] = RegistryValue{type, data};
    ++writes;
    if (afterChange) afterChange(root, key, value);
    return RegistryStatus::Ok;
}

RegistryStatus MemoryRegistry::DeleteValue(RegistryRoot root, std::wstring_view key,
                                           std::wstring_view value) {
    if (auto fault = Opened(key)) return *fault;
    if (onDelete) {
        if (auto fault = onDelete(key, value)) return *fault;
    }
    Key* found = Find(root, key);
    if (found == nullptr) return RegistryStatus::NotFound;
    if (found->values.count(std::wstring(value)) == 0) return RegistryStatus::NotFound;
    if (!Allowed()) return RegistryStatus::Failed;
    found->values.erase(std::wstring(value));
    ++writes;
    if (afterChange) afterChange(root, key, value);
    return RegistryStatus::Ok;
}

RegistryStatus MemoryRegistry::CreateSubkey(RegistryRoot root, std::wstring_view parentKey,
                                            std::wstring_view name, KeyLifetime lifetime) {
    if (auto fault = Opened(parentKey)) return *fault;
    Key* parent = Find(root, parentKey);
    if (parent == nullptr) return RegistryStatus::NotFound;
    if (parent->subkeys.count(std::wstring(name)) == 0 && !Allowed()) {
        return RegistryStatus::Failed;
    }
    auto& slot = parent->subkeys[std::wstring(name)];
    if (!slot) {
        // As Windows does: no ordinary key below a volatile one
        // (ERROR_CHILD_MUST_BE_VOLATILE).
        if (parent->isVolatile && lifetime == KeyLifetime::Persistent) {
            parent->subkeys.erase(std::wstring(name));
            return RegistryStatus::Failed;
        }
        slot = std::make_unique<Key>();
        slot->name = std::wstring(name);
        slot->isVolatile = lifetime == KeyLifetime::Volatile;
        ++writes;
    }
    return RegistryStatus::Ok;
}

}  // namespace clearon::test
