// Two actions shared by the helper programs that play installers and
// uninstallers: adding file-rename operations to Windows' pending list, as a
// real (un)installer does when a file is in use, and recording what the list
// and Clearon's set-aside copy hold at that moment.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pending_actions {

inline constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
inline constexpr wchar_t kAsideValue[] = L"PendingFileRenameOperations_Clearon";

// The value's data as counted characters; nothing when it does not exist.
inline bool ReadValue(const wchar_t* name, std::wstring& data) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        std::vector<BYTE> bytes(size + sizeof(wchar_t));
        status = RegQueryValueExW(key, name, nullptr, nullptr, bytes.data(), &size);
        data.assign(reinterpret_cast<const wchar_t*>(bytes.data()), size / sizeof(wchar_t));
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// Appends the strings of `list` ("|" separates them; "a|" is the pair a and
// an empty target, that is: delete a at boot) to the system's list, keeping
// what is there and its single closing NUL.
inline void AddPending(std::wstring_view list) {
    std::wstring data;
    if (ReadValue(kPendingValue, data)) {
        if (!data.empty() && data.back() == L'\0') data.pop_back();  // the closing NUL
    }
    for (wchar_t c : list) data.push_back(c == L'|' ? L'\0' : c);
    data.push_back(L'\0');  // the last string's terminator
    data.push_back(L'\0');  // the closing NUL
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS ||
        RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t))) != ERROR_SUCCESS) {
        fwprintf(stderr, L"cannot add pending renames\n");
    }
    if (key != nullptr) RegCloseKey(key);
}

// A value as one line of text: every NUL written as "|", so "a|b||" is the
// strings a and b and the closing NUL; "-" when the value does not exist.
inline std::wstring Describe(const wchar_t* name) {
    std::wstring data;
    if (!ReadValue(name, data)) return L"-";
    for (wchar_t& c : data) {
        if (c == L'\0') c = L'|';
    }
    return data;
}

// Appends "system=<list> aside=<list>\r\n" to the UTF-16LE file `path`.
inline void RecordPending(const std::wstring& path) {
    const std::wstring line =
        L"system=" + Describe(kPendingValue) + L" aside=" + Describe(kAsideValue) + L"\r\n";
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"cannot record pending renames in %ls\n", path.c_str());
        return;
    }
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
              nullptr);
    CloseHandle(file);
}

}  // namespace pending_actions
