#include "removal/product_discovery.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/config_lines.h"
#include "platform/registry.h"
#include "removal/mcafee_remover.h"
#include "removal/name_list.h"
#include "removal/uninstall_command.h"
#include "removal/uninstall_product.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

[[nodiscard]] bool LongEnough(std::wstring_view productName) noexcept {
    return BoundedLength(productName, kProductNameBound) >= kMinProductNameLength;
}

[[nodiscard]] std::wstring JoinKey(std::wstring_view parent, std::wstring_view child) {
    std::wstring path(parent);
    path.push_back(L'\\');
    path.append(child);
    return path;
}

// The first of `names` that reads as a non-empty string. Each read opens the
// key, reads into the 510-byte buffer and closes it again, so no handle on an
// entry is ever open while its uninstaller runs; a value that is missing,
// too long, unterminated or not a string reads as empty and the next is
// tried. A key that holds no values at all (the product key above every
// InstallProperties is one) is known to read empty after the first miss: one
// count instead of the remaining reads keeps a scan of thousands of entries
// quick.
template <std::size_t N>
[[nodiscard]] std::wstring FirstValue(Registry& registry, std::wstring_view key,
                                      const std::array<std::wstring_view, N>& names) {
    for (std::size_t i = 0; i < N; ++i) {
        std::wstring text = ReadRegistryString(registry, kMachine, key, names[i]);
        if (!text.empty()) return text;
        if (i == 0 && N > 1 && registry.ValueCount(kMachine, key) == std::optional<std::uint32_t>(0)) {
            return {};
        }
    }
    return {};
}

// Walks the subkeys of `rootPath`, opening the root afresh for every step:
// processing a subkey may run an uninstaller, and no handle may be open then.
// The index is not adjusted for entries that vanish meanwhile, so the entry
// that moves up into a removed entry's place is left for a later scan.
void ForEachSubkey(Registry& registry, std::wstring_view rootPath,
                   const std::function<void(const std::wstring& subkey)>& process) {
    const std::optional<std::uint32_t> count = registry.SubkeyCount(kMachine, rootPath);
    if (!count) return;
    std::uint32_t index = 0;
    for (std::uint32_t step = 0; step < *count; ++step) {
        const SubkeyStep found =
            registry.EnumerateSubkey(kMachine, rootPath, index, kSubkeyNameCapacity);
        switch (found.kind) {
            case SubkeyStep::Kind::RootFailed:
                break;  // the step is used up, the index stays
            case SubkeyStep::Kind::EnumFailed:
                ++index;
                break;
            case SubkeyStep::Kind::Ok:
                process(found.name);
                ++index;
                break;
        }
    }
}

void AppendFailureLine(RemovalHost& host, std::wstring_view displayName) {
    std::wstring line(kLogFailedToRemove);
    line.append(displayName);
    line.append(L"\r\n");
    host.LogLine(line);
}

[[nodiscard]] bool SameNoCase(std::wstring_view a, std::wstring_view b) noexcept {
    return a.size() == b.size() && ContainsNoCase(a, b);
}

[[nodiscard]] bool HasFailedEntries(const RemovalState& state, std::wstring_view marker) {
    for (const FailedEntry& entry : state.failedEntries) {
        if (SameNoCase(entry.marker, marker)) return true;
    }
    return false;
}

// The registry is the judge: the entry's key still opening means the product
// is still there. A display name counts once in failureCount however often
// it is met, and stops counting when a later meeting removes it.
//
// The count follows the entry keys that failed, not the name alone. Taking a
// name back on any later success would report failures as successes: a
// second entry of the same name removed while the first stays, or the same
// name removed twice (which would take back another product's failure), or
// a name that fails again after it was taken back. So the name stops
// counting only when every key that failed under it is gone, and counts
// again if it fails again.
void VerifyRemoval(RemovalContext& context, std::wstring_view candidateKey,
                   std::wstring_view displayName) {
    RemovalState& state = context.state;
    Registry& registry = context.host.registry();
    const std::wstring marker = MarkerFor(displayName);
    const bool counted = HasFailedEntries(state, marker);

    if (registry.KeyExists(kMachine, candidateKey)) {
        AppendFailureLine(context.host, displayName);
        bool known = false;
        for (const FailedEntry& entry : state.failedEntries) {
            known = known || (SameNoCase(entry.marker, marker) && SameNoCase(entry.key, candidateKey));
        }
        if (!known) state.failedEntries.push_back({marker, std::wstring(candidateKey)});
        if (!counted) ++state.failureCount;
        if (!ListContains(state.failedList, marker)) AddToList(state.failedList, marker);
        return;
    }
    if (!counted) return;
    // Gone. The other keys that failed under this name may have gone with it
    // (one Windows Installer removal deletes both of a product's entries).
    std::erase_if(state.failedEntries, [&](const FailedEntry& entry) {
        return SameNoCase(entry.marker, marker) &&
               (SameNoCase(entry.key, candidateKey) || !registry.KeyExists(kMachine, entry.key));
    });
    if (!HasFailedEntries(state, marker)) --state.failureCount;
}

void ExamineCandidate(RemovalContext& context, std::wstring_view candidateKey,
                      std::wstring_view subkeyName, std::wstring_view productName) {
    Registry& registry = context.host.registry();
    const Settings& settings = context.settings;
    RemovalState& state = context.state;

    const std::wstring displayName = FirstValue(registry, candidateKey, kDisplayNameValues);
    if (displayName.empty()) return;
    if (!ContainsNoCase(displayName, productName)) return;
    if (ContainsNoCase(displayName, kMakerName) && !settings.RemoveTessaral) return;

    std::wstring command = settings.SilentMSIInstaller
                               ? FirstValue(registry, candidateKey, kUninstallValuesSilent)
                               : FirstValue(registry, candidateKey, kUninstallValuesPlain);
    if (command.empty() && subkeyName.substr(0, kProductCodeStart.size()) == kProductCodeStart) {
        // The key name is at most 254 characters, so this command fits a
        // command line; it is kept whole rather than cut to 254.
        command = std::wstring(kMsiFallbackCommand) + std::wstring(subkeyName);
    }
    if (command.empty()) return;

    if (ContainsNoCase(displayName, kSecurityCenterProduct) && !state.securityCenterPass) {
        state.securityCenterSeen = true;
        return;
    }
    if (ContainsNoCase(displayName, kAgentProduct)) {
        state.agentLocation = ReadRegistryString(registry, kMachine, candidateKey,
                                                 kInstallLocationValue);
    }
    if (ContainsNoCase(command, kMcAfeeUiHost) && ContainsNoCase(displayName, kMcAfeeName) &&
        settings.SilentMSIInstaller) {
        const std::wstring location =
            ReadRegistryString(registry, kMachine, candidateKey, kInstallLocationValue);
        RemoveMcAfeeComponents(context, displayName, location);
    }

    if (UninstallProduct(context, displayName, command) != kUninstallRan) return;
    VerifyRemoval(context, candidateKey, displayName);
}

}  // namespace

void ScanUninstallKey(RemovalContext& context, std::wstring_view rootPath,
                      std::wstring_view productName) {
    Registry& registry = context.host.registry();
    ForEachSubkey(registry, rootPath, [&](const std::wstring& subkey) {
        // The entry key and its "\InstallProperties" subkey are candidates in
        // turn. Composed paths are kept whole: a key path cut to 254
        // characters would name another key, or none.
        const std::wstring entryKey = JoinKey(rootPath, subkey);
        ExamineCandidate(context, entryKey, subkey, productName);
        const std::wstring propertiesKey = entryKey + std::wstring(kInstallPropertiesBelowEntry);
        // Most Uninstall entries have no such subkey: one open tells that,
        // where the four display-name reads would each fail on their own.
        if (registry.KeyExists(kMachine, propertiesKey)) {
            ExamineCandidate(context, propertiesKey, subkey, productName);
        }
    });
}

void ScanInstallerUserData(RemovalContext& context, std::wstring_view rootPath,
                           std::wstring_view productName) {
    ForEachSubkey(context.host.registry(), rootPath, [&](const std::wstring& userSid) {
        if (!LongEnough(productName)) return;
        ScanUninstallKey(context, JoinKey(rootPath, userSid) + std::wstring(kProductsBelowUser),
                         productName);
    });
}

void RunUninstallPaths(RemovalContext& context, std::wstring_view productName) {
    ForEachSectionEntry(context.configText, kUninstallPathsHeader, [&](const SectionEntry& entry) {
        if (entry.text.empty() || !LongEnough(productName)) return true;
        if (entry.tooLong) {
            // A cut path would name another key; the line is left out.
            context.host.LogLine(kLogUninstallPathTooLong);
            return true;
        }
        ScanUninstallKey(context, entry.text, productName);
        return true;
    });
}

void ScanForProduct(RemovalContext& context, std::wstring_view productName) {
    const bool longEnough = LongEnough(productName);
    ScanInstallerUserData(context, kInstallerUserDataRoot, productName);
    if (longEnough) ScanUninstallKey(context, kUninstallRoot, productName);
    if (context.is64BitSystem) {
        // The runner redirects commands to the 32-bit system folder while
        // this is set: products found here were installed by 32-bit setups.
        context.state.scanning32BitView = true;
        ScanInstallerUserData(context, kInstallerUserDataRoot32, productName);
        if (longEnough) ScanUninstallKey(context, kUninstallRoot32, productName);
        context.state.scanning32BitView = false;
    }
    RunUninstallPaths(context, productName);
}

}  // namespace clearon
