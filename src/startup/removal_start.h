// Starting a removal run on its worker thread.
#pragma once

#include <windows.h>

#include <string_view>

namespace clearon {

// Timestamped and ended with CR LF like every other entry, so the stop line
// that follows stays a line of its own.
inline constexpr std::wstring_view kLogThreadNotCreated =
    L" Could not create the Clearon thread.\r\n";
inline constexpr std::wstring_view kLogNoticeNotShown =
    L" Nobody can see the notice, so it is logged and not shown: ";
// Logged (timestamped) when an unexpected error, such as running out of
// memory, ends the worker's run early; the process goes on to its end.
inline constexpr std::wstring_view kLogRunEndedByError =
    L" The removal run stopped early: an unexpected error ended it.\r\n";

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
