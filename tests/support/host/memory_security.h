// A SecurityReader over a table of paths: every path not in the table reads
// as a folder or file only administrators may change, so a test names only
// the objects it is about. `unreadable` paths cannot be read at all.
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/object_security.h"
#include "text/wide_string.h"

namespace clearon::test {

// Owner Administrators; SYSTEM and Administrators full control, Users read
// and execute, CREATOR OWNER full control for what is created below.
inline ObjectSecurity AdminsOnly() {
    return {std::wstring(kSidAdministrators),
            true,
            {{true, std::wstring(kSidSystem), kFileAllAccess, 0},
             {true, std::wstring(kSidAdministrators), kFileAllAccess, 0},
             {true, L"S-1-5-32-545", 0x1200a9, 0},
             {true, std::wstring(kSidCreatorOwner), kGenericAll, kInheritOnlyAce}}};
}

// AdminsOnly with one more entry at its end.
inline ObjectSecurity AdminsAnd(AccessEntry entry) {
    ObjectSecurity security = AdminsOnly();
    security.entries.push_back(std::move(entry));
    return security;
}

class MemorySecurity final : public SecurityReader {
public:
    std::map<std::wstring, ObjectSecurity> objects;  // keys folded to lower case
    std::set<std::wstring> unreadable;               // folded too
    std::set<std::wstring> read;                     // every path asked for, folded

    void Set(std::wstring_view path, ObjectSecurity security) {
        objects[Folded(path)] = std::move(security);
    }

    std::optional<ObjectSecurity> Read(std::wstring_view path) override {
        const std::wstring key = Folded(path);
        read.insert(key);
        if (unreadable.count(key) > 0) return std::nullopt;
        const auto found = objects.find(key);
        return found == objects.end() ? AdminsOnly() : found->second;
    }

    [[nodiscard]] static std::wstring Folded(std::wstring_view path) {
        std::wstring folded(path);
        for (wchar_t& c : folded) c = FoldAscii(c);
        return folded;
    }
};

}  // namespace clearon::test
