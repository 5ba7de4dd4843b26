#include "check/removal_preview.h"

#include <optional>

#include "check/check_text.h"
#include "config/config_lines.h"
#include "removal/command_line.h"
#include "removal/mcafee_remover.h"
#include "removal/name_list.h"
#include "removal/product_discovery.h"
#include "removal/program_list.h"
#include "removal/removal_run.h"
#include "removal/uninstall_command.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;

class Previewer {
public:
    Previewer(Registry& registry, std::wstring_view config, const PreviewOptions& options,
              PreviewResult& result)
        : registry_(registry), config_(config), options_(options), result_(result) {}

    void Run() {
        result_.refusedSettings = ReadSettings(config_, result_.settings);
        Programs(kKeyRunBeforeRemoval, PreviewKind::BeforeProgram);
        ForEachSectionEntry(config_, kProductNamesHeader, [&](const SectionEntry& entry) {
            if (entry.tooLong) return true;  // Clearon skips it, and so does lint's warning
            ScanForProduct(entry.text, entry.number, false);
            if (TriggersProventiaCheck(entry.text)) Proventia(entry.number);
            return true;
        });
        if (securityCenterSeen_) ScanForProduct(kSecurityCenterProduct, 0, true);
        Programs(kKeyRunAfterRemoval, PreviewKind::AfterProgram);
    }

private:
    [[nodiscard]] bool FileExists(std::wstring_view path, bool view32Bit) const {
        return options_.fileExists && options_.fileExists(path, view32Bit);
    }

    // The command line exactly as the runner would launch and log it, or
    // why it refuses it.
    [[nodiscard]] PreparedCommand Launched(std::wstring_view command, bool view32Bit) const {
        return PrepareCommandLine(
            command, view32Bit, options_.systemDirectory, options_.wow64SystemDirectory,
            [&](std::wstring_view path) { return FileExists(path, view32Bit); });
    }

    void Programs(std::wstring_view list, PreviewKind kind) {
        ForEachProgramLine(config_, list, [&](const SectionEntry& entry) {
            PreviewItem item;
            item.kind = kind;
            item.line = entry.number;
            if (entry.tooLong) {
                item.outcome = PreviewOutcome::ProgramTooLong;
                result_.items.push_back(std::move(item));
                return;
            }
            std::wstring command = ProgramCommand(entry.text);
            item.storedCommand = command;
            if (command.empty()) {
                item.outcome = PreviewOutcome::EmptyCommand;
                result_.items.push_back(std::move(item));
                return;
            }
            item.installer = IsAegiraInstaller(list, command);
            if (item.installer && !options_.savedArguments.empty()) {
                if (command.size() + 1 + options_.savedArguments.size() >
                    kMaxProgramCommandLength) {
                    item.outcome = PreviewOutcome::TooLong;
                    result_.items.push_back(std::move(item));
                    return;
                }
                command.append(L" ").append(options_.savedArguments);
            }
            Launch(item, command, false);
            result_.items.push_back(std::move(item));
        });
    }

    void Launch(PreviewItem& item, std::wstring_view command, bool view32Bit) const {
        PreparedCommand launched = Launched(command, view32Bit);
        switch (launched.verdict) {
            case CommandVerdict::TooLong:
                item.outcome = PreviewOutcome::TooLong;
                return;
            case CommandVerdict::Unresolved:
                item.outcome = PreviewOutcome::ProgramNotFound;
                return;
            case CommandVerdict::Launch:
                break;
        }
        item.commandLine = std::move(launched.commandLine);
    }

    void ScanForProduct(std::wstring_view productName, std::size_t line, bool finalPass) {
        for (const DiscoveryRoot& root : StandardDiscoveryRoots(options_.is64BitSystem)) {
            if (root.installerData) {
                ForEachRootSubkey(registry_, root.path, [&](const std::wstring& userSid) {
                    ScanRoot(UserProductsKey(root.path, userSid), root.view32Bit, productName, line,
                             finalPass);
                });
            } else {
                ScanRoot(root.path, root.view32Bit, productName, line, finalPass);
            }
        }
        ForEachUninstallPath(config_, [&](const SectionEntry& entry) {
            if (!entry.tooLong) ScanRoot(entry.text, false, productName, line, finalPass);
        });
    }

    void ScanRoot(std::wstring_view rootPath, bool view32Bit, std::wstring_view productName,
                  std::size_t line, bool finalPass) {
        ForEachRootSubkey(registry_, rootPath, [&](const std::wstring& subkey) {
            ForEachCandidateKey(registry_, rootPath, subkey, [&](const std::wstring& candidateKey) {
                Examine(rootPath, view32Bit, candidateKey, subkey, productName, line, finalPass);
            });
        });
    }

    void Examine(std::wstring_view rootPath, bool view32Bit, const std::wstring& candidateKey,
                 std::wstring_view subkey, std::wstring_view productName, std::size_t line,
                 bool finalPass) {
        const Settings& settings = result_.settings;
        const std::wstring displayName = ReadDisplayName(registry_, candidateKey);
        const CandidateMatch match =
            MatchCandidate(displayName, productName, settings.RemoveTessaral);
        if (match == CandidateMatch::NoDisplayName || match == CandidateMatch::OtherProduct) return;

        PreviewItem item;
        item.kind = PreviewKind::Entry;
        item.line = line;
        item.productName = productName;
        item.finalPass = finalPass;
        item.root = rootPath;
        item.view32Bit = view32Bit;
        item.key = candidateKey;
        item.displayName = displayName;
        const UninstallCommandChoice choice =
            ChooseUninstallCommand(registry_, candidateKey, subkey, settings.SilentMSIInstaller);
        item.valueName = choice.valueName;
        item.storedCommand = choice.command;

        if (!IsScannableProductName(productName)) {
            // The real scan never opens these roots' entries for a short
            // name; they are shown so the administrator sees what it misses.
            item.outcome = PreviewOutcome::ShortName;
        } else if (match == CandidateMatch::MakersOwn) {
            item.outcome = PreviewOutcome::MakersOwn;
        } else if (choice.command.empty()) {
            item.outcome = PreviewOutcome::NoCommand;
        } else if (DefersSecurityCenter(displayName, finalPass)) {
            securityCenterSeen_ = true;
            item.outcome = PreviewOutcome::Deferred;
        } else {
            item.mcAfeeComponents = ContainsNoCase(choice.command, kMcAfeeUiHost) &&
                                    ContainsNoCase(displayName, kMcAfeeName) &&
                                    settings.SilentMSIInstaller;
            if (ContainsNoCase(displayName, kAgentProduct)) {
                agentLocation_ =
                    ReadRegistryString(registry_, kMachine, candidateKey, kInstallLocationValue);
            }
            if (item.mcAfeeComponents) McAfeeComponents(item);
            Uninstall(item, view32Bit);
            const bool ran =
                item.outcome == PreviewOutcome::Runs || item.outcome == PreviewOutcome::RunsAgain;
            result_.items.push_back(std::move(item));
            if (ran) AgentFollowUp(displayName, view32Bit, line);
            return;
        }
        result_.items.push_back(std::move(item));
    }

    // What UninstallProduct would do with the command: complete it, refuse
    // it when it does not fit, ask first when so configured. `metBefore`: the
    // entry's display name was met earlier in the run, so the entry is only
    // there if that removal left it. False when refused.
    bool Complete(PreviewItem& item, bool view32Bit, bool metBefore) {
        const Settings& settings = result_.settings;
        const std::wstring marker = MarkerFor(item.displayName);
        item.completedCommand = CompleteUninstallCommand(item.storedCommand, settings);
        if (!FitsCommandLine(item.completedCommand)) {
            item.outcome = PreviewOutcome::TooLong;
            return false;
        }
        item.asks = settings.AskBeforeRemoval && !ListContains(asked_, marker);
        if (item.asks) AddToList(asked_, marker);
        item.outcome = metBefore ? PreviewOutcome::RunsAgain : PreviewOutcome::Runs;
        Launch(item, item.completedCommand, view32Bit);
        return true;
    }

    void Uninstall(PreviewItem& item, bool view32Bit) {
        const std::wstring marker = MarkerFor(item.displayName);
        if (Complete(item, view32Bit, ListContains(met_, marker))) AddToList(met_, marker);
    }

    // The commands RemoveMcAfeeComponents runs before the entry's own, found
    // by its own search. A run tests each .inf only when its turn comes, so
    // a file listed here may be gone by then; the preview can only say what
    // is there now. They belong to the entry: met again, they run only if
    // the entry is still there, and they do not make the entry's own
    // command a second meeting.
    void McAfeeComponents(PreviewItem& entry) {
        const bool metBefore = ListContains(met_, MarkerFor(entry.displayName));
        McAfeeLookups lookups;
        lookups.fileExists = [&](std::wstring_view path) { return FileExists(path, false); };
        lookups.environmentVariable = [&](std::wstring_view name) -> std::optional<std::wstring> {
            if (!options_.environmentVariable) return std::nullopt;
            return options_.environmentVariable(name);
        };
        entry.mcAfeeInstaller = FindMcAfeeInstaller(lookups).value_or(std::wstring());
        const std::wstring location =
            ReadRegistryString(registry_, kMachine, entry.key, kInstallLocationValue);
        ForEachMcAfeeCommand(registry_, location, lookups, [&](const McAfeeCommand& found) {
            PreviewItem item;
            item.kind = PreviewKind::McAfeeComponent;
            item.line = entry.line;
            item.productName = entry.productName;
            item.finalPass = entry.finalPass;
            item.root = entry.root;
            item.view32Bit = entry.view32Bit;
            item.key = found.key;
            if (found.source == McAfeeCommandSource::VirusScan) {
                item.valueName = kVirusScanUninstallValue;
            } else if (!found.key.empty()) {
                item.valueName = kInstallDirValue;
            }
            item.displayName = entry.displayName;
            item.storedCommand = found.command;
            item.mcAfeeSource = found.source;
            item.mcAfeeComponent = found.component;
            item.infPath = found.infPath;
            const bool ran = Complete(item, entry.view32Bit, metBefore);
            ++entry.mcAfeeCommands;
            result_.items.push_back(std::move(item));
            // UninstallProduct follows every command it runs for a McAfee
            // Agent name with the Agent's own remover.
            if (ran) AgentFollowUp(entry.displayName, entry.view32Bit, entry.line);
        });
    }

    void AgentFollowUp(std::wstring_view displayName, bool view32Bit, std::size_t line) {
        if (!ContainsNoCase(displayName, kAgentProduct)) return;
        if (!FileExists(AgentRemoverPath(agentLocation_), false)) return;
        PreviewItem item;
        item.kind = PreviewKind::McAfeeAgent;
        item.line = line;
        item.displayName = displayName;
        item.storedCommand =
            AgentRemoverCommand(agentLocation_, result_.settings.SilentMSIInstaller);
        if (!FitsCommandLine(item.storedCommand)) {
            item.outcome = PreviewOutcome::TooLong;
        } else {
            Launch(item, item.storedCommand, view32Bit);
        }
        result_.items.push_back(std::move(item));
    }

    void Proventia(std::size_t line) {
        const std::wstring directory =
            ReadRegistryString(registry_, kMachine, kProventiaKey, kProventiaInstallDirValue);
        if (directory.empty()) return;
        const std::wstring remover = directory + std::wstring(kProventiaRemover);
        PreviewItem item;
        item.kind = PreviewKind::Proventia;
        item.line = line;
        item.displayName = kProventiaProduct;
        item.key = kProventiaKey;
        item.valueName = kProventiaInstallDirValue;
        item.storedCommand = remover;
        if (remover.size() > kMaxFieldLength) {
            item.outcome = PreviewOutcome::TooLong;
            result_.items.push_back(std::move(item));
            return;
        }
        if (!FileExists(remover, false)) return;
        Uninstall(item, false);
        result_.items.push_back(std::move(item));
    }

    Registry& registry_;
    std::wstring_view config_;
    const PreviewOptions& options_;
    PreviewResult& result_;
    bool securityCenterSeen_ = false;
    std::wstring agentLocation_;
    NameList met_;    // markers of the display names whose command was shown as run
    NameList asked_;  // markers of the display names the Question box asks about
};

[[nodiscard]] std::wstring_view OutcomeText(PreviewOutcome outcome) {
    switch (outcome) {
        case PreviewOutcome::Runs:
            return L"runs";
        case PreviewOutcome::RunsAgain:
            return L"met again: runs only if the earlier removal of this name left its entry";
        case PreviewOutcome::MakersOwn:
            return L"skipped: the maker's own product (RemoveTessaral=N)";
        case PreviewOutcome::Deferred:
            return L"deferred: McAfee SecurityCenter is removed in a final pass after all names";
        case PreviewOutcome::ShortName:
            return L"skipped: the product name has fewer than 5 characters, so Clearon never "
                   L"looks at this entry";
        case PreviewOutcome::NoCommand:
            return L"skipped: no uninstall value and the key name is no product code";
        case PreviewOutcome::TooLong:
            return L"refused: the command would be longer than Clearon runs (nothing is run)";
        case PreviewOutcome::ProgramNotFound:
            return L"refused: the program path holds a blank and names no existing file, so "
                   L"Windows would guess (nothing is run)";
        case PreviewOutcome::EmptyCommand:
            return L"skipped: the line has no command";
        case PreviewOutcome::ProgramTooLong:
            return L"skipped: the line is longer than 254 characters";
    }
    return {};
}

[[nodiscard]] bool Launches(const PreviewItem& item) noexcept {
    return item.outcome == PreviewOutcome::Runs && !item.commandLine.empty();
}

// "MPF" for the key "SOFTWARE\McAfee\MPF".
[[nodiscard]] std::wstring_view ComponentName(std::size_t component) {
    const std::wstring_view key = kMcAfeeComponents[component].key64;
    return key.substr(key.rfind(L'\\') + 1);
}

// `first`: no McAfee command came before it for this entry.
void AppendMcAfeeCommand(std::wstring& out, const PreviewItem& item, bool first) {
    if (item.mcAfeeSource == McAfeeCommandSource::VirusScan) {
        out +=
            L"  first, McAfee VirusScan's stored command for " + Visible(item.displayName) + L"\n";
        out += L"    command from HKEY_LOCAL_MACHINE\\" + item.key + L" \"" + item.valueName +
               L"\": " + Visible(item.storedCommand) + L"\n";
    } else {
        out += L"  first, McAfee component " + std::wstring(ComponentName(item.mcAfeeComponent)) +
               L" (" + std::to_wstring(item.mcAfeeComponent + 1) + L" of " +
               std::to_wstring(kMcAfeeComponents.size()) + L") of " + Visible(item.displayName) +
               L", with mcinst.exe\n";
        out += item.mcAfeeSource == McAfeeCommandSource::BelowInstallLocation
                   ? std::wstring(L"    .inf file below its InstallLocation: ")
                   : L"    .inf file below HKEY_LOCAL_MACHINE\\" + item.key + L" \"" +
                         item.valueName + L"\": ";
        out += Visible(item.infPath) + L"\n";
    }
    if (!first) {
        out +=
            L"    there now; a command before it may remove it, and Clearon then passes it "
            L"over\n";
    }
}

void AppendProgram(std::wstring& out, const PreviewItem& item) {
    out += (item.kind == PreviewKind::BeforeProgram ? L"RunBeforeRemoval" : L"RunAfterRemoval");
    out += L" (line " + std::to_wstring(item.line) + L")";
    if (item.installer) out += L", Aegira's installer";
    out += L"\n";
    if (Launches(item)) {
        out += L"    run: " + item.commandLine + L"\n";
    } else {
        out += L"    " + std::wstring(OutcomeText(item.outcome)) + L"\n";
    }
}

}  // namespace

PreviewResult PreviewRemoval(Registry& registry, std::wstring_view configText,
                             const PreviewOptions& options) {
    PreviewResult result;
    Previewer(registry, configText, options, result).Run();
    return result;
}

std::vector<std::wstring> PreviewCommandLines(const PreviewResult& result) {
    std::vector<std::wstring> lines;
    for (const PreviewItem& item : result.items) {
        if (Launches(item)) lines.push_back(item.commandLine);
    }
    return lines;
}

std::wstring FormatPreview(const PreviewResult& result, const PreviewOptions& options) {
    std::wstring out;
    out += options.is64BitSystem
               ? L"64-bit Windows: the Wow6432Node roots are scanned too, and their commands are "
                 L"redirected from " +
                     options.systemDirectory + L" to " + options.wow64SystemDirectory + L"\n"
               : std::wstring(L"32-bit view only: the Wow6432Node roots are not scanned\n");
    for (const std::wstring& key : result.refusedSettings) {
        out += L"Clearon refuses the setting " + key + L" (too long) and leaves it empty\n";
    }
    if (result.settings.AskBeforeRemoval) {
        out += L"AskBeforeRemoval=Y: each product is asked about once, before its first command\n";
    }
    std::wstring product;
    bool productShown = false;
    bool afterMcAfeeCommand = false;
    for (const PreviewItem& item : result.items) {
        const bool firstMcAfeeCommand = !afterMcAfeeCommand;
        afterMcAfeeCommand = item.kind == PreviewKind::McAfeeComponent;
        if (item.kind == PreviewKind::BeforeProgram || item.kind == PreviewKind::AfterProgram) {
            AppendProgram(out, item);
            continue;
        }
        const std::wstring heading = item.finalPass
                                         ? std::wstring(L"Final pass: McAfee SecurityCenter")
                                         : L"Product name \"" + Visible(item.productName) +
                                               L"\" (line " + std::to_wstring(item.line) + L")";
        if (!productShown || heading != product) {
            out += heading + L"\n";
            product = heading;
            productShown = true;
        }
        if (item.kind == PreviewKind::McAfeeComponent) {
            AppendMcAfeeCommand(out, item, firstMcAfeeCommand);
        } else if (item.kind == PreviewKind::McAfeeAgent) {
            out += L"  then McAfee's own remover for " + item.displayName + L"\n";
        } else if (item.kind == PreviewKind::Proventia) {
            out += L"  Proventia Desktop's remover, from HKEY_LOCAL_MACHINE\\" + item.key + L" " +
                   item.valueName + L"\n";
        } else {
            out += L"  HKEY_LOCAL_MACHINE\\" + item.key +
                   (item.view32Bit ? L" (32-bit view)" : L"") + L"\n";
            out += L"    display name: " + Visible(item.displayName) + L"\n";
            if (!item.storedCommand.empty()) {
                out += L"    command from " +
                       (item.valueName.empty() ? std::wstring(L"the product-code key name")
                                               : L"\"" + item.valueName + L"\"") +
                       L": " + Visible(item.storedCommand) + L"\n";
            }
        }
        if (item.mcAfeeComponents) {
            if (item.mcAfeeInstaller.empty()) {
                out +=
                    L"    McAfee's components: no mcinst.exe below CommonProgramFiles or "
                    L"CommonProgramFiles(x86), so none are removed first\n";
            } else if (item.mcAfeeCommands == 0) {
                out += L"    McAfee's components: " + Visible(item.mcAfeeInstaller) +
                       L" is there, but no VirusScan command and no component .inf file\n";
            } else {
                out += L"    McAfee's components are removed first with " +
                       Visible(item.mcAfeeInstaller) + L": the " +
                       std::to_wstring(item.mcAfeeCommands) + L" command(s) above\n";
            }
        }
        if (item.asks) out += L"    asks first (Question box)\n";
        if (Launches(item)) {
            out += L"    run: " + item.commandLine + L"\n";
        } else if (item.outcome == PreviewOutcome::RunsAgain && !item.commandLine.empty()) {
            out += L"    " + std::wstring(OutcomeText(item.outcome)) + L"\n";
            out += L"    again: " + item.commandLine + L"\n";
        } else {
            out += L"    " + std::wstring(OutcomeText(item.outcome)) + L"\n";
        }
    }
    const std::vector<std::wstring> lines = PreviewCommandLines(result);
    out += L"Summary: " + std::to_wstring(lines.size()) +
           L" command line(s) would run; nothing was written, run or logged\n";
    return out;
}

}  // namespace clearon::check
