#include "removal/mcafee_remover.h"

#include <optional>
#include <string>

#include "platform/registry.h"
#include "removal/uninstall_product.h"

namespace clearon {
namespace {

// The value of an environment variable, empty when it is not defined (or does
// not fit the 255-character buffer, which the host treats as undefined).
std::wstring VariableOrEmpty(RemovalHost& host, std::wstring_view name) {
    std::optional<std::wstring> value = host.EnvironmentVariable(name);
    return value ? std::move(*value) : std::wstring();
}

std::optional<std::wstring> FindMcAfeeInstaller(RemovalHost& host) {
    for (const std::wstring_view variable : {kCommonFilesVariable, kCommonFilesX86Variable}) {
        std::wstring path = VariableOrEmpty(host, variable);
        path.append(kMcAfeeInstallerBelowCommonFiles);
        if (host.FileExists(path)) return path;
    }
    return std::nullopt;
}

// The callers of UninstallProduct here do not judge the removal: the entry
// itself is verified by discovery once its own command has run.
void Uninstall(RemovalContext& context, std::wstring_view displayName, std::wstring_view command) {
    static_cast<void>(UninstallProduct(context, displayName, command));
}

}  // namespace

std::wstring McAfeeComponentCommand(std::wstring_view installer, std::wstring_view infPath) {
    std::wstring command(L"\"");
    command.append(installer);
    command.append(L"\" \"");
    command.append(infPath);
    command.push_back(L'"');
    command.append(kComponentUninstallSwitch);
    return command;
}

void RemoveMcAfeeComponents(RemovalContext& context, std::wstring_view displayName,
                            std::wstring_view installLocation) {
    RemovalHost& host = context.host;
    const std::optional<std::wstring> installer = FindMcAfeeInstaller(host);
    if (!installer) return;

    for (const std::wstring_view key : {kVirusScanKey64, kVirusScanKey32}) {
        const std::wstring stored = ReadRegistryString(host.registry(), RegistryRoot::LocalMachine,
                                                       key, kVirusScanUninstallValue);
        if (stored.size() > kMinVirusScanCommandAbove) Uninstall(context, displayName, stored);
    }

    for (const McAfeeComponent& component : kMcAfeeComponents) {
        // Each candidate is looked for only when its turn comes, after the
        // commands before it have finished: the same .inf reached twice, and
        // still there after the first command, is run twice.
        const auto tryCandidate = [&](std::wstring infPath) {
            if (host.FileExists(infPath)) {
                Uninstall(context, displayName, McAfeeComponentCommand(*installer, infPath));
            }
        };
        tryCandidate(std::wstring(installLocation) + std::wstring(component.belowInstallLocation));
        for (const std::wstring_view key : {component.key64, component.key32}) {
            // A missing "Install Dir" leaves the bare file name, a path at the
            // root of the current drive; it is tested like any other.
            std::wstring infPath = ReadRegistryString(host.registry(), RegistryRoot::LocalMachine,
                                                      key, kInstallDirValue);
            infPath.append(component.belowInstallDir);
            tryCandidate(std::move(infPath));
        }
    }
}

}  // namespace clearon
