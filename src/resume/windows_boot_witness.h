// Boot witnesses as files in a folder of the Windows folder, which only
// administrators and SYSTEM can write to.
#pragma once

#include "resume/boot_witness.h"

namespace clearon {

class WindowsBootWitness final : public BootWitness {
public:
    std::optional<std::wstring> Create() override;
    bool Exists(std::wstring_view path) override;
    void RemoveAll() override;
};

// The process-wide instance the tool uses.
[[nodiscard]] BootWitness& SystemBootWitness() noexcept;

}  // namespace clearon
