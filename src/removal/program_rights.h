// May anybody but the administrators change a program before Clearon starts
// it? Clearon runs as SYSTEM or an administrator; a program file that an
// ordinary user can replace, or a folder where one can plant a DLL beside it
// or swap a folder above it, hands that user Clearon's rights. The decision
// looks at the owner and DACL of the file, its folder and every folder above
// it, read through a SecurityReader, so it runs in host tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/object_security.h"

namespace clearon {

// Who may change the programs Clearon runs, besides SYSTEM, Administrators,
// TrustedInstaller and a domain's Domain Admins (RID 512) and Enterprise
// Admins (RID 519): the account Clearon runs as and the AllowedWriterSids.
struct TrustedWriters {
    std::wstring runningAccount;
    std::vector<std::wstring> allowed;
};

[[nodiscard]] bool IsTrustedWriter(std::wstring_view sid, const TrustedWriters& trusted);

// What an object is to the program: the rights that matter differ.
enum class RightsRole {
    File,         // the program: write, append, delete or rename, re-permission
    Folder,       // its folder: add files or folders, delete from it, delete, re-permission
    FolderAbove,  // any folder above: delete, rename or re-permission it, delete from it
};

struct RightsFinding {
    std::wstring path;        // the file or folder
    std::wstring sid;         // who holds the right (empty: the permissions could not be read)
    std::wstring_view right;  // its name, for the log
};

inline constexpr std::wstring_view kRightOwner = L"owns";
inline constexpr std::wstring_view kRightUnreadable = L"permissions that cannot be read";

// The first right on one object that an untrusted SID holds, for `role`:
// ownership first (an owner may always re-permission), then the DACL in its
// order. Inherit-only entries do not apply to the object; deny entries
// before an allow entry take their rights from it when they name the same
// SID or Everyone; CREATOR OWNER and OWNER RIGHTS entries that apply stand
// for the owner; generic rights count as what they mean for files.
[[nodiscard]] std::optional<RightsFinding> FindUntrustedRight(const ObjectSecurity& security,
                                                              RightsRole role,
                                                              const TrustedWriters& trusted);

// The folder that holds `path` ("C:\a" for "C:\a\b", "C:\" for "C:\a",
// "\\srv\share" for "\\srv\share\a"); nothing for a root.
[[nodiscard]] std::optional<std::wstring> ParentFolder(std::wstring_view path);

// The file `programPath` (a full path), its folder and every folder above
// it up to the root (with `firstRole` Folder, `programPath` is the folder); the first finding, or
// nothing when only trusted SIDs may change any of them. An object whose permissions cannot be read
// is a finding too: nobody can say who may change it.
[[nodiscard]] std::optional<RightsFinding> CheckProgramRights(
    std::wstring_view programPath, SecurityReader& reader, const TrustedWriters& trusted,
    RightsRole firstRole = RightsRole::File);

// The sentence of the log line: "<sid> may <right> <path>", or for an owner
// "<sid> owns <path>".
[[nodiscard]] std::wstring DescribeFinding(const RightsFinding& finding);

}  // namespace clearon
