// The removal notice: a modal dialog that hides itself and ends itself after
// five seconds. The program runner uses it as the pause between two checks of
// an uninstaller that must not be hurried; for those seconds the worker
// thread owns a window and dispatches messages, with nothing on the screen.
#pragma once

#include <windows.h>

namespace clearon {

inline constexpr UINT_PTR kNoticeTimerId = 222;
inline constexpr UINT kNoticeTimerPeriodMs = 5000;

// Hides the dialog at every message (and takes the show out of every
// position change, so it never flashes up), starts the timer on WM_INITDIALOG and
// ends the dialog (result 1) on that timer only: OK, Cancel, Escape and close
// requests get the default processing, which does not end it. Returns FALSE
// for every message.
INT_PTR CALLBACK NoticeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs dialog 135 of `instance` modally, without an owner
// window (so the main dialog stays enabled), and returns when it ends. False
// when the dialog could not be created (no template, no desktop).
[[nodiscard]] bool RunNoticePause(HINSTANCE instance) noexcept;

}  // namespace clearon
