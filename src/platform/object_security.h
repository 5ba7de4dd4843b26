// Who may change a file or a folder: its owner and the entries of its DACL,
// as plain data, and the reader that fills them in. The decisions about
// them (removal/program_rights.h) run in host tests over an in-memory
// reader; the Windows reader (windows_security.h) only copies what
// GetNamedSecurityInfoW reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clearon {

// Access bits as Windows numbers them for files and folders. A folder reuses
// the file bits: FILE_WRITE_DATA adds a file, FILE_APPEND_DATA adds a
// subfolder.
inline constexpr std::uint32_t kFileWriteData = 0x0002;    // folder: add a file
inline constexpr std::uint32_t kFileAppendData = 0x0004;   // folder: add a subfolder
inline constexpr std::uint32_t kFileDeleteChild = 0x0040;  // folder only
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
// What GENERIC_WRITE means for a file (FILE_GENERIC_WRITE), and GENERIC_ALL
// (FILE_ALL_ACCESS).
inline constexpr std::uint32_t kFileGenericWrite = 0x00120116;
inline constexpr std::uint32_t kFileAllAccess = 0x001F01FF;

// ACE header flags.
inline constexpr std::uint8_t kInheritOnlyAce = 0x08;

struct AccessEntry {
    bool allow = true;  // an allowed ACE; false: a denied one
    std::wstring sid;   // "S-1-..."
    std::uint32_t mask = 0;
    std::uint8_t flags = 0;  // the ACE header's flags
};

struct ObjectSecurity {
    std::wstring ownerSid;
    // No DACL at all (a NULL DACL) grants everybody everything; an empty
    // one grants nothing.
    bool hasDacl = true;
    std::vector<AccessEntry> entries;  // in the DACL's order
};

class SecurityReader {
public:
    virtual ~SecurityReader() = default;
    // The owner and DACL of the file or folder `path`; nothing when they
    // cannot be read (no such object, no right to read its permissions).
    [[nodiscard]] virtual std::optional<ObjectSecurity> Read(std::wstring_view path) = 0;
};

// Well-known SIDs.
inline constexpr std::wstring_view kSidSystem = L"S-1-5-18";
inline constexpr std::wstring_view kSidAdministrators = L"S-1-5-32-544";
inline constexpr std::wstring_view kSidTrustedInstaller =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr std::wstring_view kSidEveryone = L"S-1-1-0";
inline constexpr std::wstring_view kSidCreatorOwner = L"S-1-3-0";
inline constexpr std::wstring_view kSidOwnerRights = L"S-1-3-4";

}  // namespace clearon
