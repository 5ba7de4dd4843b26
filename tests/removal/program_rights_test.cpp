#include "removal/program_rights.h"

#include <gtest/gtest.h>

#include <string>

#include "support/host/memory_security.h"

namespace clearon {
namespace {

using test::AdminsAnd;
using test::AdminsOnly;
using test::MemorySecurity;

const std::wstring kUsers = L"S-1-5-32-545";
const std::wstring kAuthenticated = L"S-1-5-11";
const std::wstring kEveryone(kSidEveryone);
const std::wstring kAccount = L"S-1-5-21-7-8-9-1000";
const std::wstring kAllowed = L"S-1-5-21-7-8-9-1105";
const TrustedWriters kTrusted{kAccount, {kAllowed}};

// The right found, or "" when nobody but the trusted may change the object.
std::wstring Verdict(const ObjectSecurity& security, RightsRole role) {
    const auto found = FindUntrustedRight(security, role, kTrusted);
    return found ? found->sid + L" " + std::wstring(found->right) : L"";
}

ObjectSecurity Entries(std::wstring owner, std::vector<AccessEntry> entries) {
    return {std::move(owner), true, std::move(entries)};
}

TEST(FindUntrustedRight, NamesTheFirstRightOfAnUntrustedSid) {
    const std::wstring admins(kSidAdministrators);
    const struct {
        const char* name;
        ObjectSecurity security;
        RightsRole role;
        std::wstring expected;
    } cases[] = {
        {"administrators only", AdminsOnly(), RightsRole::File, L""},
        {"Wine's default: Everyone reads and runs", AdminsAnd({true, kEveryone, 0x1200a9, 0}),
         RightsRole::File, L""},
        {"Wine after chmod o+w", AdminsAnd({true, kEveryone, 0x1301ff, 0}), RightsRole::File,
         kEveryone + L" write"},
        {"generic write", AdminsAnd({true, kAuthenticated, kGenericWrite, 0}), RightsRole::File,
         kAuthenticated + L" write"},
        {"generic all, inherit-only: not on the object",
         AdminsAnd({true, kUsers, kGenericAll, kInheritOnlyAce | 0x03}), RightsRole::File, L""},
        {"append", AdminsAnd({true, kUsers, kFileAppendData, 0}), RightsRole::File,
         kUsers + L" append to"},
        {"delete", AdminsAnd({true, kUsers, kDelete, 0}), RightsRole::File,
         kUsers + L" delete or rename"},
        {"write DAC", AdminsAnd({true, kUsers, kWriteDac, 0}), RightsRole::File,
         kUsers + L" change the permissions of"},
        {"write owner", AdminsAnd({true, kUsers, kWriteOwner, 0}), RightsRole::File,
         kUsers + L" take ownership of"},
        {"Everyone denied first",
         Entries(admins,
                 {{false, kEveryone, kFileGenericWrite, 0}, {true, kUsers, kFileGenericWrite, 0}}),
         RightsRole::File, L""},
        {"the same SID denied first",
         Entries(admins, {{false, kUsers, kFileAllAccess, 0}, {true, kUsers, kGenericAll, 0}}),
         RightsRole::File, L""},
        {"a deny after the allow comes too late",
         Entries(admins,
                 {{true, kUsers, kFileWriteData, 0}, {false, kEveryone, kFileWriteData, 0}}),
         RightsRole::File, kUsers + L" write"},
        {"a deny of another SID leaves Everyone's allow",
         Entries(admins,
                 {{false, kUsers, kFileWriteData, 0}, {true, kEveryone, kFileWriteData, 0}}),
         RightsRole::File, kEveryone + L" write"},
        {"an ordinary owner", Entries(kUsers, {}), RightsRole::File, kUsers + L" owns"},
        {"CREATOR OWNER applied stands for a trusted owner",
         Entries(admins, {{true, std::wstring(kSidCreatorOwner), kGenericAll, 0}}),
         RightsRole::File, L""},
        {"no DACL at all", {admins, false, {}}, RightsRole::Folder, kEveryone + L" add files to"},
        {"empty DACL", Entries(admins, {}), RightsRole::File, L""},
        {"folder: add files", AdminsAnd({true, kUsers, kFileWriteData, 0}), RightsRole::Folder,
         kUsers + L" add files to"},
        {"folder: add folders", AdminsAnd({true, kUsers, kFileAppendData, 0}), RightsRole::Folder,
         kUsers + L" add folders to"},
        {"folder: delete children", AdminsAnd({true, kUsers, kFileDeleteChild, 0}),
         RightsRole::Folder, kUsers + L" delete from"},
        {"drive root: users add folders, nothing more",
         AdminsAnd({true, kAuthenticated, kFileAppendData | kFileWriteData, 0}),
         RightsRole::FolderAbove, L""},
        {"folder above: delete children", AdminsAnd({true, kUsers, kFileDeleteChild, 0}),
         RightsRole::FolderAbove, kUsers + L" delete from"},
        {"Domain Admins", AdminsAnd({true, L"S-1-5-21-1-2-3-512", kGenericAll, 0}),
         RightsRole::File, L""},
        {"Enterprise Admins", AdminsAnd({true, L"S-1-5-21-1-2-3-519", kGenericAll, 0}),
         RightsRole::File, L""},
        {"no domain's RID 512", AdminsAnd({true, L"S-1-5-21-512", kGenericAll, 0}),
         RightsRole::File, L"S-1-5-21-512 write"},
        {"Domain Users", AdminsAnd({true, L"S-1-5-21-1-2-3-513", kGenericAll, 0}), RightsRole::File,
         L"S-1-5-21-1-2-3-513 write"},
        {"TrustedInstaller owns",
         Entries(std::wstring(kSidTrustedInstaller),
                 {{true, std::wstring(kSidTrustedInstaller), kFileAllAccess, 0}}),
         RightsRole::File, L""},
        {"the account Clearon runs as", Entries(kAccount, {{true, kAccount, kFileAllAccess, 0}}),
         RightsRole::File, L""},
        {"AllowedWriterSids, any case",
         AdminsAnd({true, L"s-1-5-21-7-8-9-1105", kFileAllAccess, 0}), RightsRole::File, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Verdict(c.security, c.role), c.expected) << c.name;
    }
}

TEST(ParentFolder, ClimbsToTheRootAndStops) {
    const struct {
        std::wstring path;
        std::wstring parent;  // "" for none
    } cases[] = {
        {L"C:\\a\\b\\x.exe", L"C:\\a\\b"},
        {L"C:\\a", L"C:\\"},
        {L"C:\\", L""},
        {L"C:\\a\\", L"C:\\"},
        {L"\\\\srv\\share\\a\\x.exe", L"\\\\srv\\share\\a"},
        {L"\\\\srv\\share\\a", L"\\\\srv\\share"},
        {L"\\\\srv\\share", L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParentFolder(c.path).value_or(L""), c.parent) << c.path;
    }
}

TEST(CheckProgramRights, WalksTheFileItsFolderAndEveryFolderAbove) {
    const std::wstring program = L"C:\\Pkg\\Sub\\setup.exe";
    const ObjectSecurity writable = AdminsAnd({true, kUsers, kFileAllAccess, 0});
    const struct {
        const char* name;
        std::wstring changed;  // the object given `writable` ("" none)
        std::wstring unreadable;
        std::wstring expected;
    } cases[] = {
        {"nothing", L"", L"", L""},
        {"the file", program, L"", kUsers + L" may write " + program},
        {"its folder", L"C:\\Pkg\\Sub", L"", kUsers + L" may add files to C:\\Pkg\\Sub"},
        {"a folder above", L"C:\\Pkg", L"", kUsers + L" may delete from C:\\Pkg"},
        {"the drive", L"C:\\", L"", kUsers + L" may delete from C:\\"},
        {"unreadable", L"", L"C:\\Pkg", L"permissions that cannot be read: C:\\Pkg"},
    };
    for (const auto& c : cases) {
        MemorySecurity reader;
        if (!c.changed.empty()) reader.Set(c.changed, writable);
        if (!c.unreadable.empty()) reader.unreadable.insert(MemorySecurity::Folded(c.unreadable));
        const auto found = CheckProgramRights(program, reader, kTrusted);
        EXPECT_EQ(found ? DescribeFinding(*found) : L"", c.expected) << c.name;
    }
}

}  // namespace
}  // namespace clearon
