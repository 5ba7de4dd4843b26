#include "removal/program_rights.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>

#include "text/wide_string.h"

namespace clearon {
namespace {

constexpr std::wstring_view kDomainSidStart = L"S-1-5-21-";
constexpr std::array<std::wstring_view, 2> kDomainAdminRids{L"-512", L"-519"};

struct NamedRight {
    std::uint32_t bit;
    std::wstring_view name;
};

constexpr std::array<NamedRight, 5> kFileRights{{
    {kFileWriteData, L"write"},
    {kFileAppendData, L"append to"},
    {kDelete, L"delete or rename"},
    {kWriteDac, L"change the permissions of"},
    {kWriteOwner, L"take ownership of"},
}};
constexpr std::array<NamedRight, 6> kFolderRights{{
    {kFileWriteData, L"add files to"},
    {kFileAppendData, L"add folders to"},
    {kFileDeleteChild, L"delete from"},
    {kDelete, L"delete or rename"},
    {kWriteDac, L"change the permissions of"},
    {kWriteOwner, L"take ownership of"},
}};
// Deleting from a folder above renames or removes the folder below it.
constexpr std::array<NamedRight, 4> kFolderAboveRights{{
    {kFileDeleteChild, L"delete from"},
    {kDelete, L"delete or rename"},
    {kWriteDac, L"change the permissions of"},
    {kWriteOwner, L"take ownership of"},
}};

[[nodiscard]] std::uint32_t MapGeneric(std::uint32_t mask) noexcept {
    if ((mask & kGenericAll) != 0) mask |= kFileAllAccess;
    if ((mask & kGenericWrite) != 0) mask |= kFileGenericWrite;
    return mask;
}

template <std::size_t N>
[[nodiscard]] std::optional<std::wstring_view> FirstRight(const std::array<NamedRight, N>& rights,
                                                          std::uint32_t granted) noexcept {
    for (const NamedRight& right : rights) {
        if ((granted & right.bit) != 0) return right.name;
    }
    return std::nullopt;
}

[[nodiscard]] std::optional<std::wstring_view> RightFor(RightsRole role,
                                                        std::uint32_t granted) noexcept {
    switch (role) {
        case RightsRole::File:
            return FirstRight(kFileRights, granted);
        case RightsRole::Folder:
            return FirstRight(kFolderRights, granted);
        case RightsRole::FolderAbove:
            break;
    }
    return FirstRight(kFolderAboveRights, granted);
}

[[nodiscard]] bool StartsWithNoCase(std::wstring_view text, std::wstring_view start) noexcept {
    return text.size() >= start.size() && EqualsNoCase(text.substr(0, start.size()), start);
}

[[nodiscard]] std::wstring Folded(std::wstring_view sid) {
    std::wstring folded(sid);
    for (wchar_t& c : folded) c = FoldAscii(c);
    return folded;
}

[[nodiscard]] std::size_t RootLength(std::wstring_view path) noexcept {
    std::size_t start = 0;
    constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
    constexpr std::wstring_view kLongUnc = L"\\\\?\\UNC\\";
    bool unc = false;
    if (StartsWithNoCase(path, kLongUnc)) {
        start = kLongUnc.size();
        unc = true;
    } else if (path.starts_with(kLongPrefix)) {
        start = kLongPrefix.size();
    } else if (path.starts_with(L"\\\\")) {
        start = 2;
        unc = true;
    }
    if (!unc) {
        // "X:\"
        return std::min(path.size(), start + 3);
    }
    // Server and share: the root ends after the share's name.
    std::size_t at = path.find_first_of(L"\\/", start);
    if (at == std::wstring_view::npos) return path.size();
    at = path.find_first_of(L"\\/", at + 1);
    return at == std::wstring_view::npos ? path.size() : at;
}

}  // namespace

bool IsTrustedWriter(std::wstring_view sid, const TrustedWriters& trusted) {
    if (EqualsNoCase(sid, kSidSystem) || EqualsNoCase(sid, kSidAdministrators) ||
        EqualsNoCase(sid, kSidTrustedInstaller)) {
        return true;
    }
    if (!trusted.runningAccount.empty() && EqualsNoCase(sid, trusted.runningAccount)) return true;
    // A domain's own administrators: S-1-5-21-<three numbers>-512 and -519.
    if (StartsWithNoCase(sid, kDomainSidStart) && std::count(sid.begin(), sid.end(), L'-') == 7) {
        for (const std::wstring_view rid : kDomainAdminRids) {
            if (sid.size() > rid.size() && sid.ends_with(rid)) return true;
        }
    }
    for (const std::wstring& allowed : trusted.allowed) {
        if (EqualsNoCase(sid, allowed)) return true;
    }
    return false;
}

std::optional<RightsFinding> FindUntrustedRight(const ObjectSecurity& security, RightsRole role,
                                                const TrustedWriters& trusted) {
    if (!security.ownerSid.empty() && !IsTrustedWriter(security.ownerSid, trusted)) {
        return RightsFinding{{}, security.ownerSid, kRightOwner};
    }
    if (!security.hasDacl) {
        // No DACL: everybody may do everything.
        return RightsFinding{{}, std::wstring(kSidEveryone), *RightFor(role, kFileAllAccess)};
    }
    std::map<std::wstring, std::uint32_t> denied;  // folded SID -> rights denied so far
    for (const AccessEntry& entry : security.entries) {
        if ((entry.flags & kInheritOnlyAce) != 0) continue;
        std::wstring sid = entry.sid;
        // These stand for whoever owns the object when they apply to it.
        if (EqualsNoCase(sid, kSidCreatorOwner) || EqualsNoCase(sid, kSidOwnerRights)) {
            sid = security.ownerSid;
        }
        const std::uint32_t mask = MapGeneric(entry.mask);
        const std::wstring key = Folded(sid);
        if (!entry.allow) {
            denied[key] |= mask;
            continue;
        }
        if (IsTrustedWriter(sid, trusted)) continue;
        std::uint32_t refused = denied[key];
        const auto everyone = denied.find(Folded(kSidEveryone));
        if (everyone != denied.end()) refused |= everyone->second;
        if (const auto right = RightFor(role, mask & ~refused)) {
            return RightsFinding{{}, std::move(sid), *right};
        }
    }
    return std::nullopt;
}

std::optional<std::wstring> ParentFolder(std::wstring_view path) {
    const std::size_t root = RootLength(path);
    while (path.size() > root && (path.back() == L'\\' || path.back() == L'/')) {
        path.remove_suffix(1);
    }
    if (path.size() <= root) return std::nullopt;
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring_view::npos || separator + 1 < root) return std::nullopt;
    // The drive's root keeps its backslash: "C:" alone is a current folder.
    const std::size_t end = separator + 1 == root ? root : separator;
    return std::wstring(path.substr(0, end));
}

std::optional<RightsFinding> CheckProgramRights(std::wstring_view programPath,
                                                SecurityReader& reader,
                                                const TrustedWriters& trusted,
                                                RightsRole firstRole) {
    std::wstring path(programPath);
    RightsRole role = firstRole;
    for (;;) {
        const std::optional<ObjectSecurity> security = reader.Read(path);
        if (!security) return RightsFinding{path, {}, kRightUnreadable};
        if (std::optional<RightsFinding> found = FindUntrustedRight(*security, role, trusted)) {
            found->path = path;
            return found;
        }
        std::optional<std::wstring> parent = ParentFolder(path);
        if (!parent) return std::nullopt;
        path = std::move(*parent);
        role = role == RightsRole::File ? RightsRole::Folder : RightsRole::FolderAbove;
    }
}

std::wstring DescribeFinding(const RightsFinding& finding) {
    if (finding.sid.empty()) {
        return std::wstring(kRightUnreadable) + L": " + finding.path;
    }
    std::wstring text = finding.sid;
    text.append(finding.right == kRightOwner ? L" " : L" may ");
    text.append(finding.right);
    text.push_back(L' ');
    text.append(finding.path);
    return text;
}

}  // namespace clearon
