#include "ui/session_end.h"

#include <atomic>
#include <mutex>

#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/windows_registry.h"
#include "resume/pending_renames.h"
#include "resume/windows_boot_witness.h"

namespace clearon {
namespace {

constexpr wchar_t kWatchClassName[] = L"ClearonSessionWatch";

std::atomic<bool> g_sessionEndLogged{false};
std::atomic<bool> g_sessionEnded{false};
// Makes "set aside unless the session ends" and "the session ends: put back"
// exclusive, so no set-aside can slip in between the notice and its put-back.
std::mutex g_sessionEndLock;

LRESULT CALLBACK SessionWatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            PutPendingRenamesBackForSessionEnd();
            return TRUE;  // never stand in the way of the session's end
        case WM_ENDSESSION:
            if (wParam != FALSE) PutPendingRenamesBackForSessionEnd();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

bool SessionEndAnnounced() noexcept {
    return g_sessionEnded.load();
}

void SetPendingRenamesAsideUnlessSessionEnds() noexcept {
    try {
        const std::lock_guard<std::mutex> lock(g_sessionEndLock);
        if (!g_sessionEnded.load()) SetPendingRenamesAside(SystemRegistry(), SystemBootWitness());
    } catch (...) {
        // Out of memory: nothing is set aside.
    }
}

void PutPendingRenamesBackForSessionEnd() noexcept {
    try {
        const std::lock_guard<std::mutex> lock(g_sessionEndLock);
        g_sessionEnded.store(true);
        RestorePendingRenames(SystemRegistry(), SystemBootWitness());
        if (!g_sessionEndLogged.exchange(true)) LogTimestamped(kLogSessionEnding);
    } catch (...) {
        // Out of memory while reading the lists: they stay where they are and
        // the next run merges them back.
    }
}

SessionWatch::SessionWatch() noexcept {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = SessionWatchProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWatchClassName;
    (void)RegisterClassW(&windowClass);  // a second run finds it registered
    // A top-level window, never shown: Windows sends the end-session messages
    // to every top-level window, hidden ones included. A message-only window
    // would not receive them.
    window_ = CreateWindowExW(0, kWatchClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0,
                              nullptr,  // top level
                              nullptr, windowClass.hInstance, nullptr);
}

SessionWatch::~SessionWatch() {
    if (window_ != nullptr) DestroyWindow(window_);
}

void SessionWatch::WaitFor(HANDLE thread) noexcept {
    if (window_ == nullptr) {
        WaitForSingleObject(thread, INFINITE);
        return;
    }
    for (;;) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1) break;  // the thread ended, or the wait failed
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace clearon
