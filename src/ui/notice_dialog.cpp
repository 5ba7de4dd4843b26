#include "ui/notice_dialog.h"

#include "ui/resource.h"

namespace clearon {

INT_PTR CALLBACK NoticeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    // The dialog manager shows a modal dialog once its queue is idle; hiding
    // at every message, not only at WM_INITDIALOG, keeps it off the screen.
    ShowWindow(dialog, SW_HIDE);
    if (message == WM_WINDOWPOSCHANGING) {
        // Hiding after the fact still lets the window reach the screen for a
        // moment each time the dialog manager shows it (every five seconds
        // for as long as the uninstaller runs); refusing the show itself
        // keeps the notice off the screen altogether.
        reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
    } else if (message == WM_INITDIALOG) {
        SetTimer(dialog, kNoticeTimerId, kNoticeTimerPeriodMs, nullptr);
    } else if (message == WM_TIMER && wParam == kNoticeTimerId) {
        KillTimer(dialog, kNoticeTimerId);
        EndDialog(dialog, 1);
    }
    return FALSE;
}

bool RunNoticePause(HINSTANCE instance) noexcept {
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_NOTICE),
                                           nullptr,  // no owner: the main dialog stays usable
                                           NoticeDialogProc, 0);
    // DialogBoxParamW answers 0 for a missing owner and -1 for any other
    // failure; the notice itself only ever ends with 1.
    return result != 0 && result != -1;
}

}  // namespace clearon
