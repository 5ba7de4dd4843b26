#include "platform/windows_registry.h"

#include "platform/handles.h"

namespace clearon {
namespace {

HKEY NativeRoot(RegistryRoot root) noexcept {
    return root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

RegistryStatus StatusOf(LSTATUS status) noexcept {
    switch (status) {
        case ERROR_SUCCESS:
            return RegistryStatus::Ok;
        case ERROR_MORE_DATA:
            return RegistryStatus::MoreData;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return RegistryStatus::NotFound;
        default:
            return RegistryStatus::Failed;
    }
}

// Keys are opened without a view flag: Clearon is a 64-bit process, so the
// plain paths reach the 64-bit view and the explicit Wow6432Node paths the
// 32-bit one.
LSTATUS OpenKey(RegistryRoot root, std::wstring_view path, REGSAM access, UniqueKey& key) noexcept {
    const std::wstring terminated(path);
    return RegOpenKeyExW(NativeRoot(root), terminated.c_str(), 0, access, key.put());
}

}  // namespace

RegistryStatus WindowsRegistry::QueryValue(RegistryRoot root, std::wstring_view key,
                                           std::wstring_view value, std::size_t capacityBytes,
                                           RegistryValue& result) {
    result = {};
    UniqueKey handle;
    if (const LSTATUS status = OpenKey(root, key, KEY_QUERY_VALUE, handle);
        status != ERROR_SUCCESS) {
        return StatusOf(status);
    }
    const std::wstring name(value);
    std::vector<std::uint8_t> buffer(capacityBytes);
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(capacityBytes);
    const LSTATUS status = RegQueryValueExW(handle.get(), name.c_str(), nullptr, &type,
                                            buffer.empty() ? nullptr : buffer.data(), &size);
    if (status != ERROR_SUCCESS) return StatusOf(status);
    // Never trust the size beyond the buffer we gave.
    buffer.resize(size < capacityBytes ? size : capacityBytes);
    result.type = type;
    result.data = std::move(buffer);
    return RegistryStatus::Ok;
}

bool WindowsRegistry::KeyExists(RegistryRoot root, std::wstring_view key) {
    UniqueKey handle;
    const LSTATUS status = OpenKey(root, key, MAXIMUM_ALLOWED, handle);
    // A key that exists but will not open for us is still there: only Windows
    // saying it is gone counts as gone, so a removal is never judged a success
    // on an access error.
    return status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND;
}

std::optional<std::uint32_t> WindowsRegistry::SubkeyCount(RegistryRoot root,
                                                          std::wstring_view key) {
    UniqueKey handle;
    if (OpenKey(root, key, KEY_READ, handle) != ERROR_SUCCESS) return std::nullopt;
    DWORD count = 0;
    if (RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        count = 0;
    }
    return count;
}

std::optional<std::uint32_t> WindowsRegistry::ValueCount(RegistryRoot root, std::wstring_view key) {
    UniqueKey handle;
    if (OpenKey(root, key, KEY_QUERY_VALUE, handle) != ERROR_SUCCESS) return std::nullopt;
    DWORD count = 0;
    if (RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return count;
}

SubkeyStep WindowsRegistry::EnumerateSubkey(RegistryRoot root, std::wstring_view key,
                                            std::uint32_t index, std::size_t capacityChars) {
    UniqueKey handle;
    if (OpenKey(root, key, KEY_READ, handle) != ERROR_SUCCESS) {
        return {SubkeyStep::Kind::RootFailed, {}};
    }
    std::wstring name(capacityChars, L'\0');
    DWORD length = static_cast<DWORD>(capacityChars);
    if (RegEnumKeyExW(handle.get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
        return {SubkeyStep::Kind::EnumFailed, {}};
    }
    name.resize(length < capacityChars ? length : capacityChars - 1);
    return {SubkeyStep::Kind::Ok, std::move(name)};
}

RegistryStatus WindowsRegistry::SetValue(RegistryRoot root, std::wstring_view key,
                                         std::wstring_view value, std::uint32_t type,
                                         const std::vector<std::uint8_t>& data) {
    UniqueKey handle;
    if (const LSTATUS status = OpenKey(root, key, KEY_SET_VALUE, handle); status != ERROR_SUCCESS) {
        return StatusOf(status);
    }
    const std::wstring name(value);
    return StatusOf(RegSetValueExW(handle.get(), name.c_str(), 0, type,
                                   data.empty() ? nullptr : data.data(),
                                   static_cast<DWORD>(data.size())));
}

RegistryStatus WindowsRegistry::DeleteValue(RegistryRoot root, std::wstring_view key,
                                            std::wstring_view value) {
    UniqueKey handle;
    if (const LSTATUS status = OpenKey(root, key, KEY_SET_VALUE, handle); status != ERROR_SUCCESS) {
        return StatusOf(status);
    }
    const std::wstring name(value);
    return StatusOf(RegDeleteValueW(handle.get(), name.c_str()));
}

RegistryStatus WindowsRegistry::CreateSubkey(RegistryRoot root, std::wstring_view parentKey,
                                             std::wstring_view name, KeyLifetime lifetime) {
    UniqueKey parent;
    if (const LSTATUS status = OpenKey(root, parentKey, KEY_CREATE_SUB_KEY, parent);
        status != ERROR_SUCCESS) {
        return StatusOf(status);
    }
    const std::wstring subkey(name);
    UniqueKey created;
    return StatusOf(RegCreateKeyExW(
        parent.get(), subkey.c_str(), 0, nullptr,
        lifetime == KeyLifetime::Volatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE,
        KEY_ALL_ACCESS, nullptr, created.put(), nullptr));
}

void WindowsRegistry::Flush(RegistryRoot root, std::wstring_view key) {
    UniqueKey handle;
    // A flush that cannot be done leaves the order to Windows, as before.
    if (OpenKey(root, key, KEY_QUERY_VALUE, handle) == ERROR_SUCCESS) {
        (void)RegFlushKey(handle.get());
    }
}

Registry& SystemRegistry() noexcept {
    static WindowsRegistry registry;
    return registry;
}

}  // namespace clearon
