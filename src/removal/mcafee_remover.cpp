#include "removal/mcafee_remover.h"

#include <optional>
#include <string>

#include "log/log_texts.h"
#include "platform/registry.h"
#include "removal/uninstall_product.h"

namespace clearon {
namespace {

// The value of an environment variable, empty when it is not defined (or does
// not fit the 255-character buffer, which the host treats as undefined).
std::wstring VariableOrEmpty(const McAfeeLookups& lookups, std::wstring_view name) {
    std::optional<std::wstring> value =
        lookups.environmentVariable ? lookups.environmentVariable(name) : std::nullopt;
    return value ? std::move(*value) : std::wstring();
}

[[nodiscard]] bool Exists(const McAfeeLookups& lookups, std::wstring_view path) {
    return lookups.fileExists && lookups.fileExists(path);
}

// An empty base folder leaves a path at the root of the current drive: such a
// candidate is never looked for.
[[nodiscard]] bool HasBase(const McAfeeLookups& lookups, std::wstring_view base) {
    if (!base.empty()) return true;
    if (lookups.emptyBaseSkipped) lookups.emptyBaseSkipped();
    return false;
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

std::optional<std::wstring> FindMcAfeeInstaller(const McAfeeLookups& lookups) {
    for (const std::wstring_view variable : {kCommonFilesVariable, kCommonFilesX86Variable}) {
        std::wstring path = VariableOrEmpty(lookups, variable);
        if (!HasBase(lookups, path)) continue;
        path.append(kMcAfeeInstallerBelowCommonFiles);
        if (Exists(lookups, path)) return path;
    }
    return std::nullopt;
}

void ForEachMcAfeeCommand(Registry& registry, std::wstring_view installLocation,
                          const McAfeeLookups& lookups,
                          const std::function<void(const McAfeeCommand& command)>& visit) {
    const std::optional<std::wstring> installer = FindMcAfeeInstaller(lookups);
    if (!installer) return;

    for (const std::wstring_view key : {kVirusScanKey64, kVirusScanKey32}) {
        McAfeeCommand found;
        found.source = McAfeeCommandSource::VirusScan;
        found.key = key;
        found.command =
            ReadRegistryString(registry, RegistryRoot::LocalMachine, key, kVirusScanUninstallValue);
        if (found.command.size() > kMinVirusScanCommandAbove) visit(found);
    }

    for (std::size_t index = 0; index < kMcAfeeComponents.size(); ++index) {
        const McAfeeComponent& component = kMcAfeeComponents[index];
        // Each candidate is looked for only when its turn comes, after the
        // commands before it have finished: the same .inf reached twice, and
        // still there after the first command, is run twice.
        const auto tryCandidate = [&](McAfeeCommandSource source, std::wstring_view key,
                                      std::wstring infPath) {
            if (!Exists(lookups, infPath)) return;
            McAfeeCommand found;
            found.source = source;
            found.key = key;
            found.component = index;
            found.command = McAfeeComponentCommand(*installer, infPath);
            found.infPath = std::move(infPath);
            visit(found);
        };
        if (HasBase(lookups, installLocation)) {
            tryCandidate(
                McAfeeCommandSource::BelowInstallLocation, {},
                std::wstring(installLocation) + std::wstring(component.belowInstallLocation));
        }
        const struct {
            McAfeeCommandSource source;
            std::wstring_view key;
        } keys[] = {{McAfeeCommandSource::InstallDir64, component.key64},
                    {McAfeeCommandSource::InstallDir32, component.key32}};
        for (const auto& [source, key] : keys) {
            std::wstring infPath =
                ReadRegistryString(registry, RegistryRoot::LocalMachine, key, kInstallDirValue);
            if (!HasBase(lookups, infPath)) continue;
            infPath.append(component.belowInstallDir);
            tryCandidate(source, key, std::move(infPath));
        }
    }
}

void RemoveMcAfeeComponents(RemovalContext& context, std::wstring_view displayName,
                            std::wstring_view installLocation) {
    RemovalHost& host = context.host;
    McAfeeLookups lookups;
    lookups.fileExists = [&](std::wstring_view path) { return host.FileExists(path); };
    lookups.environmentVariable = [&](std::wstring_view name) {
        return host.EnvironmentVariable(name);
    };
    bool skipLogged = false;
    lookups.emptyBaseSkipped = [&] {
        if (!skipLogged) host.LogLine(kLogMcAfeeEmptyBase);
        skipLogged = true;
    };
    ForEachMcAfeeCommand(host.registry(), installLocation, lookups,
                         [&](const McAfeeCommand& command) {
                             host.OnMcAfeeCommand(command);
                             Uninstall(context, displayName, command.command);
                         });
}

}  // namespace clearon
