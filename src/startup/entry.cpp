#include "startup/entry.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/config_loader.h"
#include "config/settings.h"
#include "log/log_format.h"
#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/handles.h"
#include "startup/removal_start.h"
#include "startup/run_lock.h"
#include "platform/windows_registry.h"
#include "resume/pending_renames.h"
#include "resume/reboot_resume.h"
#include "resume/windows_boot_witness.h"
#include "resume/windows_resume_host.h"
#include "platform/platform_info.h"
#include "platform/run_state.h"
#include "platform/disk_space.h"
#include "platform/sha256.h"
#include "removal/run_outcome.h"
#include "startup/last_run.h"
#include "startup/log_file_path.h"
#include "startup/run_context.h"
#include "startup/startup_rules.h"
#include "startup/windows_run_event.h"
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

[[nodiscard]] std::wstring UtcNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return FormatUtcTime({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
}

// The ClearonLastRun key says "running" from here on. Nothing in it may stop
// a run: a digest Windows could not compute is written empty.
void StartOwnLastRun(const std::vector<std::uint8_t>& configBytes) noexcept {
    try {
        const std::optional<Sha256Digest> digest = Sha256(configBytes);
        StartLastRun(SystemRegistry(), {UtcNow(), digest ? LowerHex(*digest) : std::wstring()});
    } catch (...) {
        // Out of memory for a few short strings: the key keeps what it had.
    }
}

// The end of every run that began, before its stop line (a line about a
// failure here belongs to the run): the run's outcome, decided from its own
// state as ClearonCheck decides it from the log, goes into the key and into
// the run's Application event.
void FinishOwnRun(int exitCode) noexcept {
    try {
        const RunOutcome outcome = DecideRunOutcome(FactsOfOwnRun(g_removalState, exitCode));
        const auto left = static_cast<std::uint32_t>(std::max(g_removalState.failureCount, 0));
        FinishLastRun(SystemRegistry(), {exitCode, UtcNow(), left, outcome.kind});
        ReportRunEvent(
            {outcome.kind, exitCode, g_removalState.removedCount, g_removalState.failureCount});
    } catch (...) {
        // Out of memory: the key says "running", as after a killed run.
    }
}

// Everything from the log's first line to the run's exit code.
[[nodiscard]] int RunStarted(HINSTANCE instance, Visibility visibility, bool waited,
                             const std::vector<std::wstring>& refusedKeys) {
    if (g_settings.EnableLogging) {
        BuildLogFilePath(LogFileStart::ComputerNameLine);
        LogTimestamped(kLogStarting);
        LogTimestamped(kLogVersion);
        if (waited) LogTimestamped(kLogWaitedForOther);
        if (!g_runState.personCanSee) LogTimestamped(kLogNobodySees);
        if (const std::wstring_view why = VisibilityLogLine(visibility); !why.empty()) {
            LogTimestamped(why);
        }
    }
    // Refused settings are named once the run log has its path, so the
    // administrator finds them in this run's log, not in the error log.
    for (const std::wstring& key : refusedKeys) LogTimestamped(RefusedSettingLogLine(key));

    SettleRunMode();

    // A run the free-space check ended has no stop line.
    if (!CheckFreeSpace()) {
        FinishOwnRun(kExitNotEnoughDiskSpace);
        return kExitNotEnoughDiskSpace;
    }

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
            FinishOwnRun(kExitNeedsPerson);
            LogRunEnd();
            return kExitNeedsPerson;
        case StartMode::Dialog:
            if (!RunWithDialog(instance)) {
                FinishOwnRun(kExitNeedsPerson);
                LogRunEnd();
                return kExitNeedsPerson;
            }
            break;
    }

    const int exitCode = ExitCodeOfRun(g_removalState.failureCount, g_runState.startResult);
    FinishOwnRun(exitCode);
    LogRunEnd();
    return exitCode;
}

}  // namespace

void LogUnexpectedEnd() noexcept {
    if (g_runState.loggingEnabled) {
        LogTimestamped(kLogEndedByUnexpectedError);
    } else {
        // Asked for no log, but an end nobody could explain otherwise is
        // still worth a line beside the executable.
        AppendToErrorLog(kLogEndedByUnexpectedError);
    }
}

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
    const Visibility visibility = DecideVisibility(CurrentSessionId(), IsWindowStationVisible());
    g_runState.personCanSee = visibility == Visibility::Seen;

    std::vector<std::uint8_t> configBytes;
    if (const int loadResult = LoadConfigFile(
            g_configText, MessageSinkFor(false, g_runState.personCanSee), &configBytes);
        loadResult != 0) {
        return loadResult;
    }

    const std::vector<std::wstring> refusedKeys = ReadSettings(g_configText, g_settings);
    g_runState.loggingEnabled = g_settings.EnableLogging;
    const RunLock runLock = WaitForOtherRuns(g_settings.OtherRunTimeLimit);
    // Nothing has been changed yet: the deployment system may simply retry.
    if (runLock.timedOut) return kExitOtherRunInProgress;
    // Before anything else writes: finish what a run cut short left.
    RecoverPendingRenames(SystemRegistry(), SystemBootWitness());
    StartOwnLastRun(configBytes);

    int exitCode = kExitUnexpectedError;
    try {
        exitCode = RunStarted(instance, visibility, runLock.waited, refusedKeys);
    } catch (...) {
        // As the process entry would, but here, where the key can still be
        // finished with the code the process returns.
        LogUnexpectedEnd();
        FinishOwnRun(kExitUnexpectedError);
        exitCode = kExitUnexpectedError;
    }
    return exitCode;
}

}  // namespace clearon
