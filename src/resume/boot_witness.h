// A file that the next boot deletes, and so tells afterwards whether a boot
// applied a given pending-renames list. Windows applies and deletes the
// system value at boot, so the registry alone cannot tell whether a restart
// that came in the middle of a move found the moved pairs in it: a deletion
// of a witness placed right after them can. Only administrators may create
// or delete a witness, or a user could fake either answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace clearon {

class BootWitness {
public:
    virtual ~BootWitness() = default;
    // Creates a witness under a name never used before; its path as the boot
    // reads it ("\??\C:\..."). Nothing when none can be created.
    [[nodiscard]] virtual std::optional<std::wstring> Create() = 0;
    // Is the witness `path` still there? When that cannot be told, yes: a
    // witness taken for gone would drop operations the boot never ran.
    [[nodiscard]] virtual bool Exists(std::wstring_view path) = 0;
    // Removes every witness: a move that no longer needs one, and those a
    // run cut short left behind.
    virtual void RemoveAll() = 0;
};

// Creates none: moves then work as without a witness.
class NoBootWitness final : public BootWitness {
public:
    std::optional<std::wstring> Create() override { return std::nullopt; }
    bool Exists(std::wstring_view /*path*/) override { return true; }
    void RemoveAll() override {}
};

}  // namespace clearon
