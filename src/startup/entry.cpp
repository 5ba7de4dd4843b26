#include "startup/entry.h"

#include <optional>
#include <string>
#include <vector>

#include "config/config_loader.h"
#include "config/settings.h"
#include "log/log_format.h"
#include "log/run_log.h"
#include "platform/handles.h"
#include "startup/removal_start.h"
#include "platform/windows_registry.h"
#include "resume/pending_renames.h"
#include "resume/reboot_resume.h"
#include "resume/windows_resume_host.h"
#include "platform/platform_info.h"
#include "platform/run_state.h"
#include "platform/disk_space.h"
#include "startup/log_file_path.h"
#include "startup/run_context.h"
#include "startup/startup_rules.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"

namespace clearon {
namespace {

// Where the executable lives and what Windows it runs on. Nothing here can
// stop the start: each failure leaves its field empty or false.
void RecordPlatform() {
    g_runState.exeDirectory = ExeDirectoryFromModulePath(ModulePath());
    // The configuration is looked for by its bare name, so the current
    // directory must be the executable's own; a failure is ignored and the
    // loader then reports the file as missing.
    (void)SetCurrentDirectoryW(AsDirectoryPath(g_runState.exeDirectory).c_str());
    g_runState.systemDirectory = SystemDirectory();

    if (Is64BitWindows()) {
        g_runState.is64BitSystem = true;
        g_runState.wow64SystemDirectory = Wow64SystemDirectory();
    }
}

// The forced settings, applied after everything was read from the file.
void SettleRunMode() {
    g_runState.consoleMode = !g_settings.ShowGUI;
    // CheckDiskSpace is parsed but never switches the free-space check off.
    g_settings.CheckDiskSpace = true;
    // A resumed start runs on its own after the reboot: nobody is there to
    // press Start.
    if (g_runState.resumedStart) g_settings.AutoRunAfterUILoads = true;
}

// The run without the dialog: the worker runs and is waited for.
void RunSilently() {
    g_settings.ShowGUI = false;
    g_runState.consoleMode = true;
    g_runState.startResult = StartRemoval();
}

// Checks the system drive on every run. Returns false when the start must
// end with kExitNotEnoughDiskSpace (the message has been reported).
[[nodiscard]] bool CheckFreeSpace() {
    const std::optional<std::wstring> systemDrive = EnvironmentVariable(kSystemDriveVariable);
    const std::optional<std::uint64_t> freeBytes =
        systemDrive ? FreeBytesAvailable(AsDirectoryPath(*systemDrive)) : std::nullopt;
    switch (JudgeFreeSpace(freeBytes)) {
        case FreeSpaceVerdict::Enough:
            return true;
        case FreeSpaceVerdict::Unknown:
            // Unknown is not "too little": say so in the log and go on.
            LogTimestamped(kLogFreeSpaceUnknown);
            return true;
        case FreeSpaceVerdict::TooLittle:
            break;
    }
    ReportMessage(kMsgNotEnoughDiskSpace,
                  MessageSinkFor(g_runState.consoleMode, g_runState.personCanSee));
    return false;
}

// Two runs at once would both set the machine's pending renames aside and
// interleave their uninstallers, so a start waits for a run already in
// progress, in any session, to end. The mutex is held until the process
// ends; one that a killed run left behind is handed over as abandoned, which
// is as good as free. Without the mutex (it cannot be created) the start
// goes on as it always did.
[[nodiscard]] UniqueKernelHandle WaitForOtherRuns(bool& waited) {
    waited = false;
    UniqueKernelHandle mutex(CreateMutexW(nullptr,  // default security
                                          FALSE,    // not owned yet: taken by the wait below
                                          kRunMutexName));
    if (!mutex) return mutex;
    if (WaitForSingleObject(mutex.get(), 0) != WAIT_TIMEOUT) return mutex;
    // The run log's own path, so the line is found where the administrator
    // looks; it stands inside the other run's entries, which it concerns.
    BuildLogFilePath(LogFileStart::PathOnly);
    LogTimestamped(kLogWaitingForOther);
    waited = true;
    if (WaitForSingleObject(mutex.get(), INFINITE) == WAIT_FAILED) return UniqueKernelHandle();
    return mutex;
}

// Shows the main dialog, or says why it could not be shown. Returns false
// when this start must end with kExitNeedsPerson.
[[nodiscard]] bool RunWithDialog(HINSTANCE instance) {
    // The dialog starts each run itself and stores startResult.
    g_dialogRun = {[] { return StartRemoval(); }, g_settings.AutoRunAfterUILoads};
    if (DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0) != -1 ||
        g_runState.mainWindow != nullptr) {
        return true;
    }
    // No window could be made at all (no usable desktop; under Wine, no
    // display driver). Ending with 0 would report a run that never happened.
    const std::wstring error = std::to_wstring(GetLastError());
    if (!g_settings.AutoRunAfterUILoads) {
        LogTimestamped(std::wstring(kLogDialogNotCreated) + error +
                       std::wstring(kLogDialogNeedsPerson));
        return false;
    }
    LogTimestamped(std::wstring(kLogDialogNotCreated) + error +
                   std::wstring(kLogDialogRunsSilently));
    RunSilently();
    return true;
}

}  // namespace

int RunClearon(HINSTANCE instance, const wchar_t* arguments) {
    g_runState.instanceHandle = instance;
    // The argument string is kept whole, however long: it is handed on to
    // Aegira's installer and to the resume command, and a cut switch or path
    // would tell them something else. The command lines built from it refuse
    // what does not fit their own capacity.
    g_runState.savedArguments = arguments != nullptr ? arguments : L"";

    // Before anything else: a /RunOnce start relaunches the tool and ends, an
    // /AfterRunOnce start either ends (no restart yet) or goes on as a
    // resumed start with the switch removed from savedArguments.
    switch (HandleResumeSwitches(SystemResumeHost(), arguments != nullptr ? arguments : L"",
                                 g_runState.savedArguments)) {
        case ResumeOutcome::ExitNow:
            return 0;
        case ResumeOutcome::ResumedStart:
            g_runState.resumedStart = true;
            break;
        case ResumeOutcome::NormalStart:
            break;
    }

    RecordPlatform();
    // Decided once, before anything could show a box.
    g_runState.personCanSee = IsWindowStationVisible();

    if (const int loadResult =
            LoadConfigFile(g_configText, MessageSinkFor(false, g_runState.personCanSee));
        loadResult != 0) {
        return loadResult;
    }

    const std::vector<std::wstring> refusedKeys = ReadSettings(g_configText, g_settings);
    g_runState.loggingEnabled = g_settings.EnableLogging;
    bool waited = false;
    const UniqueKernelHandle runMutex = WaitForOtherRuns(waited);
    // Before anything else writes: finish what a run cut short left.
    RecoverPendingRenames(SystemRegistry());
    if (g_settings.EnableLogging) {
        BuildLogFilePath(LogFileStart::ComputerNameLine);
        LogTimestamped(kLogStarting);
        LogTimestamped(kLogVersion);
        if (waited) LogTimestamped(kLogWaitedForOther);
        if (!g_runState.personCanSee) LogTimestamped(kLogNobodySees);
    }
    // Refused settings are named once the run log has its path, so the
    // administrator finds them in this run's log, not in the error log.
    for (const std::wstring& key : refusedKeys) LogTimestamped(RefusedSettingLogLine(key));

    SettleRunMode();

    if (!CheckFreeSpace()) return kExitNotEnoughDiskSpace;

    switch (DecideStartMode(g_settings.ShowGUI, g_settings.AutoRunAfterUILoads,
                            g_runState.personCanSee)) {
        case StartMode::Silent:
            g_runState.startResult = StartRemoval();
            break;
        case StartMode::SilentNobodySees:
            LogTimestamped(kLogRunsWithoutDialog);
            RunSilently();
            break;
        case StartMode::NeedsPerson:
            LogTimestamped(kLogNeedsPerson);
            LogTimestamped(kLogStopping);
            return kExitNeedsPerson;
        case StartMode::Dialog:
            if (!RunWithDialog(instance)) {
                LogTimestamped(kLogStopping);
                return kExitNeedsPerson;
            }
            break;
    }

    LogTimestamped(kLogStopping);
    return ExitCodeOfRun(g_removalState.failureCount, g_runState.startResult);
}

}  // namespace clearon
