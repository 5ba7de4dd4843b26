#include "platform/architecture.h"

#include "text/wide_string.h"

namespace clearon {

bool IsAmd64Architecture(std::wstring_view architecture,
                         std::wstring_view architectureWow6432) noexcept {
    return ContainsNoCase(architecture, kAmd64) || ContainsNoCase(architectureWow6432, kAmd64);
}

}  // namespace clearon
