#include "startup/removal_start.h"

#include <optional>
#include <string>

#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/run_state.h"
#include "removal/removal_run.h"
#include "resume/windows_resume_host.h"
#include "startup/run_context.h"
#include "startup/windows_removal_host.h"
#include "ui/main_dialog.h"
#include "ui/session_end.h"

namespace clearon {

HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE start, DWORD* threadId) noexcept {
    return CreateThread(nullptr,  // default security: the handle is not inherited
                        0,        // default stack size
                        start,
                        nullptr,  // the run works on process-wide state, not a parameter
                        0,        // running at once
                        threadId);
}

DWORD WINAPI RemovalThreadProc(LPVOID) noexcept {
    try {
        WindowsRemovalHost host(WindowsRemovalHostOptions{
            g_settings.ProgramTimeLimit, !g_runState.personCanSee,
            g_settings.AllowUserWritablePrograms, g_settings.AllowedWriterSids});
        RemovalContext context{host, g_removalState, g_settings, g_configText,
                               g_runState.is64BitSystem};
        (void)RunRemoval(context, SystemResumeHost(), g_runState.savedArguments,
                         g_settings.ShowGUI && g_runState.mainWindow != nullptr);
    } catch (...) {
        // An exception must not leave a thread procedure: the run ends here
        // (RunRemoval has put the pending renames back on its way out), and
        // the process goes on to report as after any run.
        LogTimestamped(kLogRunEndedByError);
    }
    return 1;
}

int StartRemoval(WorkerThreadCreator createThread) noexcept {
    if (g_settings.ShowMessageBox && !g_runState.personCanSee) {
        // Nobody could press OK: the run would never begin.
        try {
            LogTimestamped(std::wstring(kLogNoticeNotShown) + g_settings.MessageBoxText + L"\r\n");
        } catch (...) {
            // Without memory for the line, the notice goes unlogged.
        }
    } else if (g_settings.ShowMessageBox) {
        MessageBoxW(g_runState.mainWindow, g_settings.MessageBoxText.c_str(), L"Information",
                    MB_OK);
    }

    // A silent run's window exists before the worker can start a program.
    std::optional<SessionWatch> watch;
    if (!g_settings.ShowGUI) watch.emplace();

    DWORD threadId = 0;
    const HANDLE thread = createThread(RemovalThreadProc, &threadId);
    if (thread == nullptr) {
        LogTimestamped(kLogWorkerNotStarted);
        return kStartNotPossible;
    }
    g_runState.workerThread.Adopt(thread, threadId);

    if (!g_settings.ShowGUI) {
        watch->WaitFor(g_runState.workerThread.get());
        g_runState.workerThread.reset();
        return 0;
    }
    // The dialog polls the worker from its timer and closes the handle when
    // the thread has ended.
    EnterRunningState(g_runState.mainWindow);
    return 0;
}

}  // namespace clearon
