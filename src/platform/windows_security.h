// The owner and DACL of files and folders as Windows reports them, and the
// account this process runs as.
#pragma once

#include <string>

#include "platform/object_security.h"

namespace clearon {

class WindowsSecurityReader final : public SecurityReader {
public:
    [[nodiscard]] std::optional<ObjectSecurity> Read(std::wstring_view path) override;
};

// The SID of the account this process runs as ("S-1-5-18" for SYSTEM);
// empty when the token cannot be read.
[[nodiscard]] std::wstring CurrentAccountSid();

}  // namespace clearon
