#include "check/preview/removal_preview.h"

#include "check/cli/check_text.h"
#include "check/preview/preview_host.h"
#include "removal/mcafee_remover.h"

namespace clearon::check {
namespace {

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
        case PreviewOutcome::NotInSafeFolders:
            return L"refused: the program is named without a folder and is neither beside "
                   L"Clearon.exe nor in the system folders (nothing is run)";
        case PreviewOutcome::UserWritable:
            return L"refused: others than administrators can change the program "
                   L"(AllowUserWritablePrograms=N; nothing is run)";
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

void AppendRefusalReason(std::wstring& out, const PreviewItem& item) {
    if (!item.refusalReason.empty()) out += L"    found: " + Visible(item.refusalReason) + L"\n";
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
        AppendRefusalReason(out, item);
    }
}

}  // namespace

PreviewResult PreviewRemoval(Registry& registry, std::wstring_view configText,
                             const PreviewOptions& options) {
    PreviewResult result;
    PreviewHost(registry, configText, options, result).Run();
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
            AppendRefusalReason(out, item);
        }
    }
    const std::vector<std::wstring> lines = PreviewCommandLines(result);
    out += L"Summary: " + std::to_wstring(lines.size()) +
           L" command line(s) would run; nothing was written, run or logged\n";
    return out;
}

namespace {

[[nodiscard]] bool IsRemoval(const PreviewItem& item) noexcept {
    return item.kind == PreviewKind::Entry || item.kind == PreviewKind::Proventia ||
           item.kind == PreviewKind::McAfeeAgent;
}

}  // namespace

std::size_t RemovalsInPreview(const PreviewResult& result) {
    std::size_t count = 0;
    for (const PreviewItem& item : result.items) {
        if (IsRemoval(item) && item.outcome == PreviewOutcome::Runs) ++count;
    }
    return count;
}

int PreviewExitStatus(const PreviewResult& result, std::size_t refusedWrites) {
    if (refusedWrites > 0) return kCheckPreviewFault;
    return RemovalsInPreview(result) > 0 ? 1 : 0;
}

}  // namespace clearon::check
