#include "check/preview/preview_host.h"

#include <utility>

#include "config/config_lines.h"
#include "removal/command_line.h"
#include "removal/mcafee_remover.h"
#include "removal/name_list.h"
#include "removal/program_path.h"
#include "removal/product_discovery.h"
#include "removal/removal_run.h"

namespace clearon::check {
namespace {

[[nodiscard]] PreviewOutcome ProgramOutcome(ProgramLineVerdict verdict) noexcept {
    switch (verdict) {
        case ProgramLineVerdict::LineTooLong:
            return PreviewOutcome::ProgramTooLong;
        case ProgramLineVerdict::NoCommand:
            return PreviewOutcome::EmptyCommand;
        case ProgramLineVerdict::InstallerTooLong:
            return PreviewOutcome::TooLong;
        case ProgramLineVerdict::Runs:
            break;
    }
    return PreviewOutcome::Runs;
}

[[nodiscard]] PreviewOutcome CandidateOutcome(CandidateVerdict verdict) noexcept {
    switch (verdict) {
        case CandidateVerdict::MakersOwn:
            return PreviewOutcome::MakersOwn;
        case CandidateVerdict::NoCommand:
            return PreviewOutcome::NoCommand;
        case CandidateVerdict::Deferred:
            return PreviewOutcome::Deferred;
        case CandidateVerdict::CommandTooLong:
            return PreviewOutcome::TooLong;
        case CandidateVerdict::Removes:
            break;
    }
    return PreviewOutcome::Runs;
}

}  // namespace

void PreviewHost::Run() {
    result_.refusedSettings = ReadSettings(config_, result_.settings);
    RemovalContext context{*this, state_, result_.settings, config_, options_.is64BitSystem};
    RunRemovalSteps(context, options_.savedArguments);
}

bool PreviewHost::Exists(std::wstring_view path, bool view32Bit) const {
    return options_.fileExists && options_.fileExists(path, view32Bit);
}

std::optional<std::wstring> PreviewHost::EnvironmentVariable(std::wstring_view name) {
    if (!options_.environmentVariable) return std::nullopt;
    return options_.environmentVariable(name);
}

void PreviewHost::Record(PreviewItem item, bool runs) {
    result_.items.push_back(std::move(item));
    current_.reset();
    if (runs) current_ = result_.items.size() - 1;
}

// The command line exactly as the runner would launch and log it; a command
// the runner refuses is shown as refused.
LaunchResult PreviewHost::RunProgram(std::wstring_view commandLine, bool /*showNotice*/) {
    if (!current_) return {};
    PreviewItem& item = result_.items[*current_];
    current_.reset();
    const bool view32Bit = state_.scanning32BitView;
    const auto exists = [&](std::wstring_view path) { return Exists(path, view32Bit); };
    const LaunchChecks checks{
        {options_.exeDirectory, options_.systemDirectory, options_.wow64SystemDirectory,
         options_.windowsDirectory, options_.pathVariable},
        view32Bit ? options_.wow64SystemDirectory : options_.exeDirectory,
        result_.settings.AllowUserWritablePrograms ? nullptr : options_.rights,
        {options_.runningAccount, result_.settings.AllowedWriterSids}};
    const PreparedCommand prepared =
        CheckLaunch(PrepareCommandLine(commandLine, view32Bit, options_.systemDirectory,
                                       options_.wow64SystemDirectory, exists),
                    view32Bit, checks, exists);
    if (prepared.verdict == CommandVerdict::NotInSafeFolders) {
        item.outcome = PreviewOutcome::NotInSafeFolders;
        return {};
    }
    if (prepared.verdict == CommandVerdict::UserWritable) {
        item.outcome = PreviewOutcome::UserWritable;
        item.refusalReason = prepared.reason;
        return {};
    }
    if (prepared.verdict == CommandVerdict::TooLong) {
        item.outcome = PreviewOutcome::TooLong;
        return {};
    }
    if (prepared.verdict == CommandVerdict::Unresolved) {
        item.outcome = PreviewOutcome::ProgramNotFound;
        return {};
    }
    item.commandLine = prepared.commandLine;
    return {};
}

// Every question is answered Yes: the preview shows what a run does for an
// administrator who agrees, and that the box comes first.
QuestionAnswer PreviewHost::AskQuestion(std::wstring_view /*text*/) {
    if (current_) result_.items[*current_].asks = true;
    return QuestionAnswer::Yes;
}

void PreviewHost::OnProgramLine(const ProgramLineNote& note) {
    PreviewItem item;
    item.kind = note.listName == kKeyRunBeforeRemoval ? PreviewKind::BeforeProgram
                                                      : PreviewKind::AfterProgram;
    item.line = note.line;
    item.outcome = ProgramOutcome(note.verdict);
    item.storedCommand = note.command;
    item.installer = note.installer;
    Record(std::move(item), note.verdict == ProgramLineVerdict::Runs);
}

void PreviewHost::OnProductName(std::wstring_view productName, std::size_t line, bool finalPass) {
    productName_ = productName;
    line_ = line;
    finalPass_ = finalPass;
    if (!IsScannableProductName(productName)) ListShortNameEntries(productName);
}

PreviewItem PreviewHost::EntryItem(std::wstring_view rootPath, bool view32Bit,
                                   std::wstring_view key, std::wstring_view displayName) const {
    PreviewItem item;
    item.kind = PreviewKind::Entry;
    item.line = line_;
    item.productName = productName_;
    item.finalPass = finalPass_;
    item.root = rootPath;
    item.view32Bit = view32Bit;
    item.key = key;
    item.displayName = displayName;
    return item;
}

// A name shorter than five characters makes the run look at no entry at all.
// The entries it would otherwise meet are listed all the same, so that the
// administrator sees what the run passes over; nothing here decides anything
// about a removal.
void PreviewHost::ListShortNameEntries(std::wstring_view productName) {
    const auto listRoot = [&](std::wstring_view rootPath, bool view32Bit) {
        ForEachRootSubkey(registry_, rootPath, [&](const std::wstring& subkey) {
            ForEachCandidateKey(registry_, rootPath, subkey, [&](const std::wstring& key) {
                const std::wstring displayName = ReadDisplayName(registry_, key);
                const CandidateMatch match =
                    MatchCandidate(displayName, productName, result_.settings.RemoveTessaral);
                if (match == CandidateMatch::NoDisplayName ||
                    match == CandidateMatch::OtherProduct) {
                    return;
                }
                PreviewItem item = EntryItem(rootPath, view32Bit, key, displayName);
                const UninstallCommandChoice choice = ChooseUninstallCommand(
                    registry_, key, subkey, result_.settings.SilentMSIInstaller);
                item.valueName = choice.valueName;
                item.storedCommand = choice.command;
                item.outcome = PreviewOutcome::ShortName;
                Record(std::move(item), false);
            });
        });
    };
    for (const DiscoveryRoot& root : StandardDiscoveryRoots(options_.is64BitSystem)) {
        if (!root.installerData) {
            listRoot(root.path, root.view32Bit);
            continue;
        }
        ForEachRootSubkey(registry_, root.path, [&](const std::wstring& userSid) {
            listRoot(UserProductsKey(root.path, userSid), root.view32Bit);
        });
    }
    ForEachUninstallPath(config_, [&](const SectionEntry& entry) {
        if (!entry.tooLong) listRoot(entry.text, false);
    });
}

void PreviewHost::OnCandidate(const CandidateNote& note) {
    PreviewItem item = EntryItem(note.rootPath, note.view32Bit, note.key, note.displayName);
    item.outcome = CandidateOutcome(note.verdict);
    if (note.verdict == CandidateVerdict::MakersOwn) {
        // The run passes the maker's own products over before it reads their
        // command; the preview shows the command it leaves alone.
        const UninstallCommandChoice choice = ChooseUninstallCommand(
            registry_, note.key, note.subkeyName, result_.settings.SilentMSIInstaller);
        item.valueName = choice.valueName;
        item.storedCommand = choice.command;
    } else {
        item.valueName = note.valueName;
        item.storedCommand = note.command;
    }
    if (note.verdict != CandidateVerdict::Removes) {
        Record(std::move(item), false);
        return;
    }
    item.mcAfeeComponents = note.mcAfeeComponents;
    if (item.mcAfeeComponents) {
        McAfeeLookups lookups;
        lookups.fileExists = [&](std::wstring_view path) { return Exists(path, false); };
        lookups.environmentVariable = [&](std::wstring_view name) {
            return EnvironmentVariable(name);
        };
        item.mcAfeeInstaller = FindMcAfeeInstaller(lookups).value_or(std::wstring());
    }
    announced_.push_back(std::move(item));
}

// A command RemoveMcAfeeComponents runs before the announced entry's own. The
// run tests each .inf only when its turn comes, so a file listed here may be
// gone by then; the preview can only say what is there now. The commands
// belong to the entry: met again, they run only if the entry is still there,
// and they do not make the entry's own command a second meeting.
void PreviewHost::OnMcAfeeCommand(const McAfeeCommand& found) {
    if (announced_.empty()) return;
    PreviewItem& entry = announced_.back();
    ++entry.mcAfeeCommands;
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
    announced_.push_back(std::move(item));
}

void PreviewHost::OnProventiaRemover(const ProventiaNote& note) {
    PreviewItem item;
    item.kind = PreviewKind::Proventia;
    item.line = line_;
    item.displayName = kProventiaProduct;
    item.key = kProventiaKey;
    item.valueName = kProventiaInstallDirValue;
    item.storedCommand = note.remover;
    if (note.tooLong) {
        item.outcome = PreviewOutcome::TooLong;
        Record(std::move(item), false);
        return;
    }
    announced_.push_back(std::move(item));
}

// UninstallProduct's verdict on the latest announced command. A display name
// met before (by an entry's or Proventia's own command) marks a command that
// runs only if that earlier removal left its entry.
void PreviewHost::OnUninstall(const UninstallNote& note) {
    current_.reset();
    if (announced_.empty()) return;
    PreviewItem item = std::move(announced_.back());
    announced_.pop_back();
    // The preview answers every question Yes, so nothing is declined in it.
    if (note.verdict == UninstallVerdict::Declined) return;
    item.completedCommand = note.completedCommand;
    if (note.verdict == UninstallVerdict::TooLong) {
        item.outcome = PreviewOutcome::TooLong;
        Record(std::move(item), false);
        return;
    }
    const std::wstring marker = MarkerFor(item.displayName);
    item.outcome = ListContains(met_, marker) ? PreviewOutcome::RunsAgain : PreviewOutcome::Runs;
    if (item.kind != PreviewKind::McAfeeComponent && !ListContains(met_, marker)) {
        AddToList(met_, marker);
    }
    Record(std::move(item), true);
}

void PreviewHost::OnAgentRemover(const AgentRemoverNote& note) {
    PreviewItem item;
    item.kind = PreviewKind::McAfeeAgent;
    item.line = line_;
    item.displayName = note.displayName;
    item.storedCommand = note.command;
    if (!note.fits) item.outcome = PreviewOutcome::TooLong;
    Record(std::move(item), note.fits);
}

}  // namespace clearon::check
