// The main dialog (template 103): Start and Exit, the status line the worker
// updates, and the progress marquee while a run is in progress.
//
// The dialog does not know how a run is made. It calls g_dialogRun.start,
// which the entry points at the removal run's start (StartRemoval) before it
// opens the dialog. That start creates the worker thread, stores it in
// g_runState.workerThread, calls EnterRunningState on the
// dialog and returns at once; the dialog then polls the thread with timer 223
// and takes the run back down when the thread has ended. Tests put a
// stand-in worker behind the same pointer and drive the real dialog.
#pragma once

#include <windows.h>

#include "log/log_texts.h"

namespace clearon {

// Polls the worker: the first tick 500 ms after the start, then every 100 ms.
inline constexpr UINT_PTR kCompletionTimerId = 223;
inline constexpr UINT kFirstTickMilliseconds = 500;
inline constexpr UINT kNextTickMilliseconds = 100;

// The dialog's result when it closes itself after an automatic run.
inline constexpr INT_PTR kAutoRunDialogResult = 223;

// What a start reports when no worker could be created; with no start
// installed the dialog stores it too, because then no run can take place.
inline constexpr int kStartNotPossible = kExitWorkerNotStarted;

// Starts a removal run and returns 0, or kStartNotPossible when no worker
// was created. Called on the dialog's thread only.
using StartRunFunction = int (*)();

// What the entry hands the dialog before opening it: the start, and whether
// a run starts by itself as the dialog is shown (the AutoRunAfterUILoads
// setting), the dialog then closing itself when that run has ended.
struct MainDialogRun {
    StartRunFunction start = nullptr;
    bool autoRun = false;
};
inline MainDialogRun g_dialogRun;

// The dialog procedure of template 103. Opened modally with
// DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0).
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The running state a start puts the dialog in: Start and Exit disabled, the
// progress frame shown, timer 223 set for its first, 500 ms tick.
void EnterRunningState(HWND dialog) noexcept;

// Marquee back to position 0, frame and all 24 squares hidden.
void ResetMarquee(HWND dialog) noexcept;

// One step of the marquee: frame shown, each square shown or hidden by its
// picture at the new position.
void AdvanceMarquee(HWND dialog) noexcept;

}  // namespace clearon
