#include "removal/product_discovery.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/config_lines.h"
#include "log/log_texts.h"
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
    return IsScannableProductName(productName);
}

[[nodiscard]] std::wstring JoinKey(std::wstring_view parent, std::wstring_view child) {
    std::wstring path(parent);
    path.push_back(L'\\');
    path.append(child);
    return path;
}

// The first of `names` that reads as a non-empty string, and its index.
// Each read opens the key, reads into the 510-byte buffer and closes it
// again, so no handle on an entry is ever open while its uninstaller runs; a
// value that is missing, too long, unterminated or not a string reads as
// empty and the next is tried. A key that holds no values at all (the
// product key above every InstallProperties is one) is known to read empty
// after the first miss: one count instead of the remaining reads keeps a scan
// of thousands of entries quick.
struct FoundValue {
    std::wstring text;
    std::size_t index = 0;
    bool tooLong = false;  // none found, and one of them did not fit the buffer
};
template <std::size_t N>
[[nodiscard]] FoundValue FirstValue(Registry& registry, std::wstring_view key,
                                    const std::array<std::wstring_view, N>& names) {
    FoundValue found;
    for (std::size_t i = 0; i < N; ++i) {
        RegistryString read = ReadRegistryStringChecked(registry, kMachine, key, names[i]);
        if (!read.text.empty()) return {std::move(read.text), i, false};
        found.tooLong = found.tooLong || read.tooLong;
        if (i == 0 && N > 1 && !read.tooLong &&
            registry.ValueCount(kMachine, key) == std::optional<std::uint32_t>(0)) {
            return found;
        }
    }
    return found;
}

void AppendFailureLine(RemovalHost& host, std::wstring_view displayName) {
    std::wstring line(kLogFailedToRemove);
    line.append(VisibleText(displayName));
    line.append(L"\r\n");
    host.LogLine(line);
}

[[nodiscard]] bool HasFailedEntries(const RemovalState& state, std::wstring_view marker) {
    for (const FailedEntry& entry : state.failedEntries) {
        if (EqualsNoCase(entry.marker, marker)) return true;
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
// Returns true when the entry is gone.
[[nodiscard]] bool VerifyRemoval(RemovalContext& context, std::wstring_view candidateKey,
                                 std::wstring_view displayName) {
    RemovalState& state = context.state;
    Registry& registry = context.host.registry();
    const std::wstring marker = MarkerFor(displayName);
    const bool counted = HasFailedEntries(state, marker);

    if (registry.KeyExists(kMachine, candidateKey)) {
        AppendFailureLine(context.host, displayName);
        bool known = false;
        const bool busy = state.lastUninstallerExitCode == kExitInstallerBusy;
        for (FailedEntry& entry : state.failedEntries) {
            if (EqualsNoCase(entry.marker, marker) && EqualsNoCase(entry.key, candidateKey)) {
                known = true;
                entry.installerBusy = busy;
            }
        }
        if (!known) state.failedEntries.push_back({marker, std::wstring(candidateKey), busy});
        if (!counted) ++state.failureCount;
        if (!ListContains(state.failedList, marker)) AddToList(state.failedList, marker);
        return false;
    }
    if (!counted) return true;
    // Gone. The other keys that failed under this name may have gone with it
    // (one Windows Installer removal deletes both of a product's entries).
    std::erase_if(state.failedEntries, [&](const FailedEntry& entry) {
        return EqualsNoCase(entry.marker, marker) &&
               (EqualsNoCase(entry.key, candidateKey) || !registry.KeyExists(kMachine, entry.key));
    });
    if (!HasFailedEntries(state, marker)) --state.failureCount;
    return true;
}

// The entry's InstallLocation, when its registration may name a folder:
// a per-user one is the user's own choice, so it is logged and not used.
[[nodiscard]] std::wstring InstallLocation(RemovalContext& context, std::wstring_view rootPath,
                                           std::wstring_view candidateKey,
                                           std::wstring_view displayName) {
    std::wstring location =
        ReadRegistryString(context.host.registry(), kMachine, candidateKey, kInstallLocationValue);
    if (location.empty()) return location;
    const std::optional<std::wstring> userSid = PerUserRegistrationSid(rootPath);
    if (!userSid) return location;
    std::wstring line(kLogUserLocationSkipped);
    line.append(VisibleText(displayName));
    line.append(L" (");
    line.append(VisibleText(location));
    line.append(L")");
    line.append(kLogUserLocationSkippedFor);
    line.append(VisibleText(*userSid));
    line.append(kLogUserLocationSkippedWhy);
    context.host.LogLine(line);
    return {};
}

void ExamineCandidate(RemovalContext& context, std::wstring_view rootPath,
                      std::wstring_view candidateKey, std::wstring_view subkeyName,
                      std::wstring_view productName) {
    RemovalHost& host = context.host;
    Registry& registry = host.registry();
    const Settings& settings = context.settings;
    RemovalState& state = context.state;

    const std::wstring displayName = ReadDisplayName(registry, candidateKey);
    const CandidateMatch match = MatchCandidate(displayName, productName, settings.RemoveTessaral);
    if (match == CandidateMatch::NoDisplayName || match == CandidateMatch::OtherProduct) return;
    CandidateNote note;
    note.rootPath = rootPath;
    note.key = candidateKey;
    note.subkeyName = subkeyName;
    note.view32Bit = state.scanning32BitView;
    note.displayName = displayName;
    if (match == CandidateMatch::MakersOwn) {
        note.verdict = CandidateVerdict::MakersOwn;
        host.OnCandidate(note);
        return;
    }
    const UninstallCommandChoice choice =
        ChooseUninstallCommand(registry, candidateKey, subkeyName, settings.SilentMSIInstaller);
    const std::wstring& command = choice.command;
    note.command = command;
    note.valueName = choice.valueName;
    if (command.empty() && !choice.tooLong) {
        note.verdict = CandidateVerdict::NoCommand;
        host.OnCandidate(note);
        return;
    }

    if (DefersSecurityCenter(displayName, state.securityCenterPass)) {
        state.securityCenterSeen = true;
        note.verdict = CandidateVerdict::Deferred;
        host.OnCandidate(note);
        return;
    }
    if (command.empty()) {
        // A matching product must never be passed over without a word: its
        // entry stays, so it is counted as not removed.
        note.verdict = CandidateVerdict::CommandTooLong;
        host.OnCandidate(note);
        std::wstring line(kLogNotRemoving);
        line.append(VisibleText(displayName));
        line.append(kLogUninstallValueTooLong);
        context.host.LogLine(line);
        state.lastUninstallerExitCode.reset();  // nothing ran for it
        (void)VerifyRemoval(context, candidateKey, displayName);
        return;
    }
    if (ContainsNoCase(displayName, kAgentProduct)) {
        state.agentLocation = InstallLocation(context, rootPath, candidateKey, displayName);
    }
    note.mcAfeeComponents = ContainsNoCase(command, kMcAfeeUiHost) &&
                            ContainsNoCase(displayName, kMcAfeeName) && settings.SilentMSIInstaller;
    host.OnCandidate(note);
    if (note.mcAfeeComponents) {
        const std::wstring location = InstallLocation(context, rootPath, candidateKey, displayName);
        RemoveMcAfeeComponents(context, displayName, location);
    }

    if (UninstallProduct(context, displayName, command) != kUninstallRan) return;
    if (VerifyRemoval(context, candidateKey, displayName)) ++state.removedCount;
}

}  // namespace

bool IsScannableProductName(std::wstring_view productName) noexcept {
    return BoundedLength(productName, kProductNameBound) >= kMinProductNameLength;
}

std::vector<DiscoveryRoot> StandardDiscoveryRoots(bool is64BitSystem) {
    std::vector<DiscoveryRoot> roots{{kInstallerUserDataRoot, true, false},
                                     {kUninstallRoot, false, false}};
    if (is64BitSystem) {
        // Products found here were installed by 32-bit setups.
        roots.push_back({kInstallerUserDataRoot32, true, true});
        roots.push_back({kUninstallRoot32, false, true});
    }
    return roots;
}

void ForEachUninstallPath(std::wstring_view config,
                          const std::function<void(const SectionEntry& entry)>& visit) {
    ForEachSectionEntry(config, kUninstallPathsHeader, [&](const SectionEntry& entry) {
        if (!entry.text.empty()) visit(entry);
        return true;
    });
}

std::optional<std::wstring> PerUserRegistrationSid(std::wstring_view rootPath) {
    constexpr std::wstring_view kUserData = L"\\Installer\\UserData\\";
    while (!rootPath.empty() && rootPath.back() == L'\\') rootPath.remove_suffix(1);
    const std::size_t at = FindNoCase(rootPath, kUserData);
    if (at == std::wstring_view::npos) return std::nullopt;
    std::wstring_view rest = rootPath.substr(at + kUserData.size());
    const std::size_t slash = rest.find(L'\\');
    if (slash == std::wstring_view::npos) return std::nullopt;
    const std::wstring_view sid = rest.substr(0, slash);
    if (!EqualsNoCase(rest.substr(slash), kProductsBelowUser)) return std::nullopt;
    if (EqualsNoCase(sid, kMachineSid)) return std::nullopt;
    return std::wstring(sid);
}

std::wstring UserProductsKey(std::wstring_view rootPath, std::wstring_view userSid) {
    return JoinKey(rootPath, userSid) + std::wstring(kProductsBelowUser);
}

// The names are read first and processed afterwards: processing a subkey may
// run an uninstaller that deletes its own entry, and walking by index would
// then skip the entry that moves up into its place. The root is opened afresh
// for every step and never held while a subkey is processed. An entry gone by
// the time its turn comes reads as having no display name and is passed over.
void ForEachRootSubkey(Registry& registry, std::wstring_view rootPath,
                       const std::function<void(const std::wstring& subkey)>& process) {
    const std::optional<std::uint32_t> count = registry.SubkeyCount(kMachine, rootPath);
    if (!count) return;
    std::vector<std::wstring> names;
    std::uint32_t index = 0;
    for (std::uint32_t step = 0; step < *count; ++step) {
        SubkeyStep found = registry.EnumerateSubkey(kMachine, rootPath, index, kSubkeyNameCapacity);
        switch (found.kind) {
            case SubkeyStep::Kind::RootFailed:
                break;  // the step is used up, the index stays
            case SubkeyStep::Kind::EnumFailed:
                ++index;
                break;
            case SubkeyStep::Kind::Ok:
                names.push_back(std::move(found.name));
                ++index;
                break;
        }
    }
    for (const std::wstring& name : names) process(name);
}

void ForEachCandidateKey(Registry& registry, std::wstring_view rootPath, std::wstring_view subkey,
                         const std::function<void(const std::wstring& candidateKey)>& examine) {
    // Composed paths are kept whole: a key path cut to 254 characters would
    // name another key, or none.
    const std::wstring entryKey = JoinKey(rootPath, subkey);
    examine(entryKey);
    const std::wstring propertiesKey = entryKey + std::wstring(kInstallPropertiesBelowEntry);
    // Most Uninstall entries have no such subkey: one open tells that, where
    // the four display-name reads would each fail on their own.
    if (registry.KeyExists(kMachine, propertiesKey)) examine(propertiesKey);
}

std::wstring ReadDisplayName(Registry& registry, std::wstring_view candidateKey) {
    return FirstValue(registry, candidateKey, kDisplayNameValues).text;
}

CandidateMatch MatchCandidate(std::wstring_view displayName, std::wstring_view productName,
                              bool removeTessaral) noexcept {
    if (displayName.empty()) return CandidateMatch::NoDisplayName;
    // The configured name is looked for in the display name, never the
    // reverse.
    if (!ContainsNoCase(displayName, productName)) return CandidateMatch::OtherProduct;
    if (ContainsNoCase(displayName, kMakerName) && !removeTessaral)
        return CandidateMatch::MakersOwn;
    return CandidateMatch::Matches;
}

UninstallCommandChoice ChooseUninstallCommand(Registry& registry, std::wstring_view candidateKey,
                                              std::wstring_view subkeyName,
                                              bool silentMsiInstaller) {
    const auto& order = silentMsiInstaller ? kUninstallValuesSilent : kUninstallValuesPlain;
    FoundValue found = FirstValue(registry, candidateKey, order);
    if (!found.text.empty()) return {std::move(found.text), order[found.index], false};
    if (subkeyName.substr(0, kProductCodeStart.size()) == kProductCodeStart) {
        // The key name is at most 254 characters, so this command fits a
        // command line; it is kept whole rather than cut to 254.
        return {std::wstring(kMsiFallbackCommand) + std::wstring(subkeyName), {}, false};
    }
    return {{}, {}, found.tooLong};
}

bool DefersSecurityCenter(std::wstring_view displayName, bool securityCenterPass) noexcept {
    return ContainsNoCase(displayName, kSecurityCenterProduct) && !securityCenterPass;
}

void ScanUninstallKey(RemovalContext& context, std::wstring_view rootPath,
                      std::wstring_view productName) {
    Registry& registry = context.host.registry();
    ForEachRootSubkey(registry, rootPath, [&](const std::wstring& subkey) {
        ForEachCandidateKey(registry, rootPath, subkey, [&](const std::wstring& candidateKey) {
            ExamineCandidate(context, rootPath, candidateKey, subkey, productName);
        });
    });
}

void ScanInstallerUserData(RemovalContext& context, std::wstring_view rootPath,
                           std::wstring_view productName) {
    ForEachRootSubkey(context.host.registry(), rootPath, [&](const std::wstring& userSid) {
        if (!LongEnough(productName)) return;
        ScanUninstallKey(context, UserProductsKey(rootPath, userSid), productName);
    });
}

void RunUninstallPaths(RemovalContext& context, std::wstring_view productName) {
    ForEachUninstallPath(context.configText, [&](const SectionEntry& entry) {
        if (!LongEnough(productName)) return;
        if (entry.tooLong) {
            // A cut path would name another key; the line is left out.
            context.host.LogLine(kLogUninstallPathTooLong);
            return;
        }
        ScanUninstallKey(context, entry.text, productName);
    });
}

void ScanForProduct(RemovalContext& context, std::wstring_view productName) {
    const bool longEnough = LongEnough(productName);
    for (const DiscoveryRoot& root : StandardDiscoveryRoots(context.is64BitSystem)) {
        // The runner redirects commands to the 32-bit system folder while
        // this is set.
        context.state.scanning32BitView = root.view32Bit;
        if (root.installerData) {
            ScanInstallerUserData(context, root.path, productName);
        } else if (longEnough) {
            ScanUninstallKey(context, root.path, productName);
        }
    }
    context.state.scanning32BitView = false;
    RunUninstallPaths(context, productName);
}

}  // namespace clearon
