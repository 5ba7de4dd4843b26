#include "ui/main_dialog.h"

#include <cwchar>
#include <string>

#include "platform/run_state.h"
#include "ui/marquee.h"
#include "ui/resource.h"
#include "ui/status_message.h"

namespace clearon {
namespace {

// Private to the dialog: 0 after a reset, then 1 to 26.
int marqueePosition = 0;

void ShowControl(HWND dialog, int id, bool visible) noexcept {
    ShowWindow(GetDlgItem(dialog, id), visible ? SW_SHOWNORMAL : SW_HIDE);
}

void EnableRunButtons(HWND dialog, bool enabled) noexcept {
    EnableWindow(GetDlgItem(dialog, IDC_START), enabled ? TRUE : FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_EXIT), enabled ? TRUE : FALSE);
}

// True while the worker thread exists and has not ended. A thread that has
// ended but not yet been taken down by the completion tick counts as ended,
// so a close request and the cancel command agree about it.
bool WorkerRunning() noexcept {
    return g_runState.workerThread &&
           WaitForSingleObject(g_runState.workerThread.get(), 0) == WAIT_TIMEOUT;
}

// Releases an ended worker's handle. Called only when the worker has ended.
void ReleaseWorker() noexcept {
    g_runState.workerThread.reset();
}

void StartRun() noexcept {
    // Start is disabled during a run, but a WM_COMMAND can still be sent or a
    // second show notification arrive: a second worker would overwrite the
    // first one's handle and two runs would share the run state unlocked.
    if (WorkerRunning()) return;
    g_runState.startResult = g_dialogRun.start != nullptr ? g_dialogRun.start() : kStartNotPossible;
}

void OnStatusText(HWND dialog, LPARAM lParam) noexcept;

// The worker is polled, never waited for: the dialog thread must stay free
// to draw the status texts and the marquee.
void OnCompletionTick(HWND dialog) noexcept {
    KillTimer(dialog, kCompletionTimerId);
    if (WorkerRunning()) {
        AdvanceMarquee(dialog);
        SetTimer(dialog, kCompletionTimerId, kNextTickMilliseconds, nullptr);
        return;
    }
    // The worker's last texts may still wait in the queue behind this tick:
    // show them now, so the final status is on the screen when the run ends,
    // also when the dialog closes itself (and no text's buffer is left behind).
    MSG pending{};
    while (PeekMessageW(&pending, dialog, kStatusMessage, kStatusMessage, PM_REMOVE)) {
        OnStatusText(dialog, pending.lParam);
    }
    ReleaseWorker();
    EnableRunButtons(dialog, true);
    ResetMarquee(dialog);
    if (g_dialogRun.autoRun) EndDialog(dialog, kAutoRunDialogResult);
}

// Exit, or the cancel command the dialog manager sends for Escape and for an
// accepted close request. While a run is in progress it is ignored: ending
// the dialog would let the process end before the run has restored the
// pending renames and decided about the reboot.
void OnEndRequest(HWND dialog, int id) noexcept {
    if (WorkerRunning()) return;
    if (g_runState.workerThread) {
        // Ended between two ticks: take it down here, the tick will not come.
        KillTimer(dialog, kCompletionTimerId);
        ReleaseWorker();
    }
    EndDialog(dialog, id);
}

void OnStatusText(HWND dialog, LPARAM lParam) noexcept {
    const auto text = TakeStatusText(lParam);
    if (!text) return;
    // The buffer holds at most 254 characters and a terminator; a longer
    // text is shown cut there, and nothing past the buffer is read.
    const std::size_t length = wcsnlen(text.get(), kStatusCapacity - 1);
    const std::wstring shown(text.get(), length);
    SetDlgItemTextW(dialog, IDC_STATUS, shown.c_str());
}

}  // namespace

void EnterRunningState(HWND dialog) noexcept {
    EnableRunButtons(dialog, false);
    ShowControl(dialog, IDC_PROGRESS_FRAME, true);
    SetTimer(dialog, kCompletionTimerId, kFirstTickMilliseconds, nullptr);
}

void ResetMarquee(HWND dialog) noexcept {
    marqueePosition = 0;
    ShowControl(dialog, IDC_PROGRESS_FRAME, false);
    for (int k = 1; k <= kMarqueeSquareCount; ++k) ShowControl(dialog, SquareControlId(k), false);
}

void AdvanceMarquee(HWND dialog) noexcept {
    marqueePosition = NextMarqueePosition(marqueePosition);
    ShowControl(dialog, IDC_PROGRESS_FRAME, true);
    for (int k = 1; k <= kMarqueeSquareCount; ++k) {
        ShowControl(dialog, SquareControlId(k), IsSquareLit(k, marqueePosition));
    }
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            g_runState.mainWindow = dialog;
            ResetMarquee(dialog);
            return FALSE;
        case WM_SHOWWINDOW:
            // The automatic start happens as the dialog is shown; a hide
            // notification must never begin a removal run.
            if (g_dialogRun.autoRun && wParam != FALSE) StartRun();
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_START:
                    StartRun();
                    break;
                case IDC_EXIT:
                case IDCANCEL:
                    OnEndRequest(dialog, LOWORD(wParam));
                    break;
                default:
                    break;
            }
            return FALSE;
        case WM_CLOSE:
            // Refused while the worker runs. Otherwise the default processing
            // turns the close into the cancel command, which ends the dialog.
            return WorkerRunning() ? TRUE : FALSE;
        case WM_TIMER:
            if (wParam == kCompletionTimerId) OnCompletionTick(dialog);
            return FALSE;
        case kStatusMessage:
            OnStatusText(dialog, lParam);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace clearon
