// Starting a removal run on its worker thread.
#pragma once

#include <windows.h>

#include <string_view>

namespace clearon {

// Creates the worker thread the way CreateThread does: null when it could
// not be created. A parameter so that a test can make the creation fail.
using WorkerThreadCreator = HANDLE (*)(LPTHREAD_START_ROUTINE start, DWORD* threadId);
[[nodiscard]] HANDLE CreateWorkerThread(LPTHREAD_START_ROUTINE start, DWORD* threadId) noexcept;

// The worker thread: one complete removal run. Always returns 1; nothing
// escapes it (an error that ends the run early is logged).
DWORD WINAPI RemovalThreadProc(LPVOID unused) noexcept;

// Shows the notice (ShowMessageBox; only logged where nobody can see it)
// and starts the worker. In a silent run it
// waits for the worker to end; with the dialog it puts the dialog into its
// running state and returns at once. Returns 0, or kStartNotPossible (155)
// when the thread could not be created (logged, nothing else changes).
[[nodiscard]] int StartRemoval(WorkerThreadCreator createThread = CreateWorkerThread) noexcept;

}  // namespace clearon
