// Thin reads of what the start-up needs to know about the machine. Each
// returns what Windows says, whole, and leaves every decision to the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace clearon {

// Full path of the running executable; empty when it cannot be read. Not
// limited to MAX_PATH: a longer path is read whole.
[[nodiscard]] std::wstring ModulePath();

// GetSystemDirectoryW; empty on failure.
[[nodiscard]] std::wstring SystemDirectory();

// The 32-bit system directory of a 64-bit Windows. GetSystemWow64DirectoryW is
// looked up in Kernel32.dll at run time, so the tool still starts on a
// Windows that lacks it; when the export is there the library stays loaded.
// Empty when the library or the export is missing or the call fails.
[[nodiscard]] std::wstring Wow64SystemDirectory();

// An environment variable read into the data model's 255-character buffer.
// Nothing when it is undefined, and nothing when its value does not fit:
// a cut value (a folder name, a drive) would name something else.
inline constexpr std::size_t kEnvironmentBufferCapacity = 255;
[[nodiscard]] std::optional<std::wstring> EnvironmentVariable(std::wstring_view name);

// A variable of any length, such as PATH; empty when it is undefined.
[[nodiscard]] std::wstring EnvironmentVariableOfAnyLength(const wchar_t* name);

// GetSystemWindowsDirectoryW; empty when it fails or does not fit MAX_PATH.
[[nodiscard]] std::wstring WindowsDirectory();

// True on a 64-bit Windows: IsAmd64Architecture over the two architecture
// variables as EnvironmentVariable reads them (an unreadable one is empty).
[[nodiscard]] bool Is64BitWindows();

// GetComputerNameW into a 255-character buffer; nothing on failure.
[[nodiscard]] std::optional<std::wstring> ComputerName();

// Free bytes available to the caller on the drive or folder `path`; nothing
// when Windows cannot say.
[[nodiscard]] std::optional<std::uint64_t> FreeBytesAvailable(const std::wstring& path);

// Whether this process's window station is visible: false for one that is
// not (a service's, or SYSTEM's under a deployment agent), where a box would
// wait for ever; nothing when Windows cannot say.
[[nodiscard]] std::optional<bool> IsWindowStationVisible() noexcept;

// The Terminal Services session this process runs in; nothing when Windows
// cannot say.
[[nodiscard]] std::optional<std::uint32_t> CurrentSessionId() noexcept;

}  // namespace clearon
