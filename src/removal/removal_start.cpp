#include "removal/removal_start.h"

#include "log/run_log.h"
#include "removal/removal_run.h"
#include "removal/windows_removal_host.h"
#include "resume/windows_resume_host.h"
#include "startup/run_state.h"
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

DWORD WINAPI RemovalThreadProc(LPVOID) {
    WindowsRemovalHost host;
    RemovalContext context{host, g_runState, g_settings, g_configText, g_runState.is64BitSystem};
    (void)RunRemoval(context, SystemResumeHost(), g_runState.savedArguments,
                     g_settings.ShowGUI && g_runState.mainWindow != nullptr);
    return 1;
}

int StartRemoval(WorkerThreadCreator createThread) noexcept {
    if (g_settings.ShowMessageBox) {
        MessageBoxW(g_runState.mainWindow, g_settings.MessageBoxText.c_str(), L"Information",
                    MB_OK);
    }

    DWORD threadId = 0;
    HANDLE thread = createThread(RemovalThreadProc, &threadId);
    if (thread == nullptr) {
        AppendToLog(kLogThreadNotCreated);
        return kStartRemovalThreadFailed;
    }
    g_runState.workerThread = thread;
    g_runState.workerThreadId = threadId;

    if (!g_settings.ShowGUI) {
        WaitWatchingSessionEnd(thread);
        CloseHandle(thread);
        g_runState.workerThread = nullptr;
        g_runState.workerThreadId = 0;
        return 0;
    }
    // The dialog polls the worker from its timer and closes the handle when
    // the thread has ended.
    EnterRunningState(g_runState.mainWindow);
    return 0;
}

}  // namespace clearon
