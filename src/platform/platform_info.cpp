#include "platform/platform_info.h"

#include <windows.h>

#include <vector>

#include "platform/architecture.h"
#include "platform/handles.h"

namespace clearon {
namespace {

// Calls `query(buffer, capacity)` (a GetModuleFileNameW-style function that
// returns the length written, or the size needed or the full capacity when
// the buffer is too small) with growing buffers until the text fits.
template <typename Query>
std::wstring ReadGrowing(Query query) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD capacity = static_cast<DWORD>(buffer.size());
        const DWORD length = query(buffer.data(), capacity);
        if (length == 0) return {};
        if (length < capacity) {
            buffer.resize(length);
            return buffer;
        }
        // Too small: the call returned the size it needs (or the capacity).
        buffer.assign(length > capacity ? length + 1 : capacity * 2, L'\0');
    }
    return {};
}

}  // namespace

std::wstring ModulePath() {
    return ReadGrowing([](wchar_t* buffer, DWORD capacity) {
        return GetModuleFileNameW(nullptr, buffer, capacity);
    });
}

std::wstring SystemDirectory() {
    return ReadGrowing([](wchar_t* buffer, DWORD capacity) {
        return static_cast<DWORD>(GetSystemDirectoryW(buffer, capacity));
    });
}

std::wstring Wow64SystemDirectory() {
    UniqueLibrary kernel(LoadLibraryW(L"Kernel32.dll"));
    if (!kernel) return {};
    using GetSystemWow64DirectoryWFn = UINT(WINAPI*)(LPWSTR, UINT);
    // Through void (*)() so the compiler accepts the change of signature.
    const auto function = reinterpret_cast<GetSystemWow64DirectoryWFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel.get(), "GetSystemWow64DirectoryW")));
    if (function == nullptr) return {};  // the library is released with `kernel`

    // The function is used while the process lives: keep the library loaded.
    (void)kernel.release();
    wchar_t directory[kEnvironmentBufferCapacity] = {};
    const UINT length = function(directory, static_cast<UINT>(kEnvironmentBufferCapacity));
    // A failed call, or a directory that does not fit the buffer (the call
    // then returns the size it needs and writes nothing usable), is empty.
    if (length == 0 || length >= kEnvironmentBufferCapacity) return {};
    return std::wstring(directory, length);
}

std::optional<std::wstring> EnvironmentVariable(std::wstring_view name) {
    const std::wstring terminatedName(name);
    wchar_t value[kEnvironmentBufferCapacity] = {};
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(terminatedName.c_str(), value,
                                                 static_cast<DWORD>(kEnvironmentBufferCapacity));
    if (length == 0) {
        // Zero is both "undefined" and "defined but empty".
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::wstring();
    }
    if (length >= kEnvironmentBufferCapacity) return std::nullopt;  // does not fit: never cut
    return std::wstring(value, length);
}

std::wstring EnvironmentVariableOfAnyLength(const wchar_t* name) {
    std::vector<wchar_t> buffer(1024);
    for (;;) {
        const DWORD length =
            GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(length);  // the size it needs, terminator included
    }
}

std::wstring WindowsDirectory() {
    wchar_t buffer[MAX_PATH + 1]{};
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(buffer, length);
}

bool Is64BitWindows() {
    return IsAmd64Architecture(EnvironmentVariable(kArchitectureVariable).value_or(L""),
                               EnvironmentVariable(kArchitectureWow6432Variable).value_or(L""));
}

std::optional<std::wstring> ComputerName() {
    wchar_t name[kEnvironmentBufferCapacity] = {};
    DWORD size = static_cast<DWORD>(kEnvironmentBufferCapacity);
    if (!GetComputerNameW(name, &size) || size >= kEnvironmentBufferCapacity) return std::nullopt;
    return std::wstring(name, size);
}

std::optional<std::uint64_t> FreeBytesAvailable(const std::wstring& path) {
    ULARGE_INTEGER available{};
    if (path.empty() || !GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return available.QuadPart;
}

std::optional<bool> IsWindowStationVisible() noexcept {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                   &needed)) {
        return std::nullopt;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

std::optional<std::uint32_t> CurrentSessionId() noexcept {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return std::nullopt;
    return static_cast<std::uint32_t>(session);
}

}  // namespace clearon
