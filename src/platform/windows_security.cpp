#include "platform/windows_security.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "platform/handles.h"

namespace clearon {
namespace {

// Buffers that Windows allocates and the caller hands back with LocalFree.
template <typename T>
class LocalBuffer {
public:
    LocalBuffer() noexcept = default;
    LocalBuffer(const LocalBuffer&) = delete;
    LocalBuffer& operator=(const LocalBuffer&) = delete;
    ~LocalBuffer() {
        if (buffer_ != nullptr) LocalFree(buffer_);
    }
    [[nodiscard]] T get() const noexcept { return buffer_; }
    [[nodiscard]] T* put() noexcept { return &buffer_; }

private:
    T buffer_ = nullptr;
};

[[nodiscard]] std::wstring SidText(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) return {};
    LocalBuffer<LPWSTR> text;
    if (!ConvertSidToStringSidW(sid, text.put())) return {};
    return text.get();
}

}  // namespace

std::optional<ObjectSecurity> WindowsSecurityReader::Read(std::wstring_view path) {
    const std::wstring terminated(path);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalBuffer<PSECURITY_DESCRIPTOR> descriptor;
    // owner and dacl point into the descriptor, which owns them.
    if (GetNamedSecurityInfoW(terminated.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, descriptor.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    ObjectSecurity security;
    security.ownerSid = SidText(owner);
    if (owner != nullptr && security.ownerSid.empty()) return std::nullopt;
    security.hasDacl = dacl != nullptr;
    if (dacl == nullptr) return security;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(dacl, index, &ace)) return std::nullopt;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        AccessEntry entry;
        entry.flags = header->AceFlags;
        // The plain and the callback entries share this layout; object
        // entries (directory services only) do not occur on files.
        switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
                entry.allow = true;
                break;
            case ACCESS_DENIED_ACE_TYPE:
            case ACCESS_DENIED_CALLBACK_ACE_TYPE:
                entry.allow = false;
                break;
            default:
                continue;
        }
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        entry.mask = allowed->Mask;
        entry.sid = SidText(const_cast<DWORD*>(&allowed->SidStart));
        // An entry whose SID cannot be told might be anybody's.
        if (entry.sid.empty()) return std::nullopt;
        security.entries.push_back(std::move(entry));
    }
    return security;
}

std::wstring CurrentAccountSid() {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
    DWORD size = 0;
    (void)GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return {};
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
    return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

}  // namespace clearon
