#include "removal/removal_run.h"

#include "config/config_lines.h"
#include "config/settings.h"
#include "log/log_texts.h"
#include "removal/product_discovery.h"
#include "removal/program_list.h"
#include "removal/uninstall_product.h"
#include "resume/pending_renames.h"
#include "resume/reboot_resume.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

// Puts the pending file renames back when it goes out of scope, on the way
// out of an exception too.
class PendingRenamesBack {
public:
    PendingRenamesBack(Registry& registry, BootWitness& witness)
        : registry_(registry), witness_(witness) {}
    PendingRenamesBack(const PendingRenamesBack&) = delete;
    PendingRenamesBack& operator=(const PendingRenamesBack&) = delete;
    ~PendingRenamesBack() {
        try {
            RestorePendingRenames(registry_, witness_);
        } catch (...) {
            // Out of memory: the list stays aside, and the next start puts
            // it back before anything else.
        }
    }

private:
    Registry& registry_;
    BootWitness& witness_;
};

// Proventia Desktop leaves its own remover in its install folder.
void RemoveProventiaDesktop(RemovalContext& context) {
    const std::wstring directory =
        ReadRegistryString(context.host.registry(), RegistryRoot::LocalMachine, kProventiaKey,
                           kProventiaInstallDirValue);
    if (directory.empty()) return;
    const std::wstring remover = directory + std::wstring(kProventiaRemover);
    if (remover.size() > kMaxFieldLength) {
        context.host.LogLine(kLogProventiaPathTooLong);
        context.host.OnProventiaRemover({remover, true});
        return;
    }
    if (!context.host.FileExists(remover)) return;
    context.host.OnProventiaRemover({remover, false});
    (void)UninstallProduct(context, kProventiaProduct, remover);
}

}  // namespace

bool TriggersProventiaCheck(std::wstring_view productName) noexcept {
    return ContainsNoCase(kProventiaProduct, productName);
}

void RunRemovalSteps(RemovalContext& context, std::wstring_view savedArguments) {
    RemovalHost& host = context.host;
    RemovalState& state = context.state;

    state.declinedList.clear();
    state.confirmedList.clear();
    state.securityCenterPass = false;

    host.PostStatus(kStatusRunningBefore);
    RunProgramList(context, kKeyRunBeforeRemoval, savedArguments);

    host.PostStatus(kStatusSearching);
    ForEachSectionEntry(context.configText, kProductNamesHeader, [&](const SectionEntry& entry) {
        if (entry.tooLong) {
            // A cut name would match other products than the one meant.
            host.LogLine(kLogProductLineTooLong);
            return true;
        }
        host.OnProductName(entry.text, entry.number, false);
        ScanForProduct(context, entry.text);
        if (TriggersProventiaCheck(entry.text)) RemoveProventiaDesktop(context);
        return true;
    });

    // McAfee SecurityCenter goes last, after every other product.
    state.securityCenterPass = true;
    if (state.securityCenterSeen) {
        host.OnProductName(kSecurityCenterProduct, 0, true);
        ScanForProduct(context, kSecurityCenterProduct);
    }

    host.PostStatus(kStatusRunningAfter);
    RunProgramList(context, kKeyRunAfterRemoval, savedArguments);
}

bool RunRemoval(RemovalContext& context, ResumeHost& resumeHost, std::wstring_view savedArguments,
                bool showGui) {
    RemovalHost& host = context.host;
    RemovalState& state = context.state;
    bool rebootRequested = false;
    {
        // Every run puts the pending file renames back, whatever was decided
        // and however it ends: an error that leaves the steps early must not
        // leave the machine's operations set aside for the next restart.
        const PendingRenamesBack restoreOnExit(host.registry(), host.bootWitness());
        context.beforeInstaller = [&] {
            RegisterResumeAhead(
                resumeHost, RebootInputs{context.settings.ResumeAfterReboot, true, savedArguments});
        };
        RunRemovalSteps(context, savedArguments);
        context.beforeInstaller = nullptr;
        rebootRequested =
            DecideReboot(resumeHost, RebootInputs{context.settings.ResumeAfterReboot,
                                                  state.installerLaunched, savedArguments});
        if (rebootRequested) state.resumeRegistered = true;
    }

    if (showGui) host.PostStatus(rebootRequested ? kStatusCompletedReboot : kStatusCompleted);
    return rebootRequested;
}

}  // namespace clearon
