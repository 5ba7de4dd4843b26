// When Windows ends the session (a restart an uninstaller forced, a user
// logging off) while a run is in progress, the machine's pending file renames
// may sit in PendingFileRenameOperations_Clearon, which Windows ignores at
// boot. Both the dialog and a silent run answer the end-session messages by
// putting them back first.
#pragma once

#include <windows.h>

#include <string_view>

namespace clearon {

// Puts the set-aside pending renames back into the system's value (merged
// before what is there) and logs it, once per process. For
// WM_QUERYENDSESSION and for a WM_ENDSESSION that says the session ends.
void PutPendingRenamesBackForSessionEnd() noexcept;

// Has the end of the session been announced to this process?
[[nodiscard]] bool SessionEndAnnounced() noexcept;

// Sets the pending renames aside before a program unless the end of the
// session was announced. Serialised with the put-back above, so a set-aside
// that was under way when the notice came is put back by it, and none begins
// after it.
void SetPendingRenamesAsideUnlessSessionEnds() noexcept;

// The hidden top-level window of a silent run that receives the end-session
// messages. It is made before the worker starts: a session that ends while
// the worker's first program runs must already find it. Without a window (no
// desktop to create it on) the run simply waits.
class SessionWatch {
public:
    SessionWatch() noexcept;
    ~SessionWatch();
    SessionWatch(const SessionWatch&) = delete;
    SessionWatch& operator=(const SessionWatch&) = delete;

    // Waits for `thread` to end, answering the window's messages meanwhile.
    void WaitFor(HANDLE thread) noexcept;

private:
    HWND window_ = nullptr;
};

}  // namespace clearon
