// UninstallProduct: one found product (display name and stored uninstall
// command) is confirmed if so configured, completed into an unattended
// command for its kind of uninstaller, logged, shown and run until its whole
// process tree has ended; the McAfee Agent's own remover follows.
#pragma once

#include <string_view>

#include "removal/removal_context.h"

namespace clearon {

// What UninstallProduct tells its caller.
inline constexpr int kUninstallRan = 0;      // run, refused as too long, or the box failed
inline constexpr int kUninstallSkipped = 1;  // declined now or earlier in this run

// Returns kUninstallSkipped when the user declined `displayName` (now or
// earlier in the run, in any letter case): nothing was run and the caller
// must not judge the removal. Otherwise kUninstallRan; the caller then looks
// at the registry to see whether the product is gone, which is the only
// judgement of success.
[[nodiscard]] int UninstallProduct(RemovalContext& context, std::wstring_view displayName,
                                   std::wstring_view uninstallCommand);

}  // namespace clearon
