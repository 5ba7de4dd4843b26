// Status texts from the worker thread to the main dialog.
//
// The worker never touches a window directly: it posts a heap copy of the
// text with kStatusMessage and forgets it. The copy belongs to the dialog
// from the moment the post succeeds; a copy that could not be posted is
// freed at once, so neither side can leak one.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string_view>

namespace clearon {

inline constexpr UINT kStatusMessage = WM_USER + 1;
// The copy is a 255-character buffer: at most 254 characters are shown.
inline constexpr std::size_t kStatusCapacity = 255;

// Posts a copy of `text` to g_runState.mainWindow; does nothing (and
// allocates nothing) in a silent run.
void PostStatus(std::wstring_view text) noexcept;

// Posts a copy of `text` to `window`; returns false (having freed the copy)
// when the copy could not be made or posted.
[[nodiscard]] bool PostStatusTo(HWND window, std::wstring_view text) noexcept;

// The receiving side: takes ownership of the buffer a kStatusMessage carries.
[[nodiscard]] std::unique_ptr<wchar_t[]> TakeStatusText(LPARAM lParam) noexcept;

}  // namespace clearon
