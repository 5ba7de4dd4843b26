#include "ui/status_message.h"

#include <new>

#include "platform/run_state.h"

namespace clearon {

bool PostStatusTo(HWND window, std::wstring_view text) noexcept {
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[kStatusCapacity]());
    if (!copy) return false;
    const std::size_t length =
        text.size() < kStatusCapacity - 1 ? text.size() : kStatusCapacity - 1;
    text.copy(copy.get(), length);
    copy[length] = L'\0';
    if (!PostMessageW(window, kStatusMessage, 0, reinterpret_cast<LPARAM>(copy.get())))
        return false;
    copy.release();  // the dialog owns it now
    return true;
}

void PostStatus(std::wstring_view text) noexcept {
    if (g_runState.mainWindow == nullptr) return;
    (void)PostStatusTo(g_runState.mainWindow, text);
}

std::unique_ptr<wchar_t[]> TakeStatusText(LPARAM lParam) noexcept {
    return std::unique_ptr<wchar_t[]>(reinterpret_cast<wchar_t*>(lParam));
}

}  // namespace clearon
