// A stand-in for Aegira's installer. Tests copy it beside Clearon.exe as
// setup.exe, so that an after-removal line "RunAfterRemoval=setup.exe ..." is
// taken as the installer. Every start first appends its whole command line,
// as Windows handed it over (GetCommandLineW), as one UTF-16LE line to
// "aegira_setup_calls.txt" beside itself, so a test can see which arguments
// Clearon appended. Then it runs its actions from left to right:
//
//   /version=TEXT          installs "Aegira": writes "ProductVersion" = TEXT
//                          under HKLM "SOFTWARE\Tessaral\Aegira\QRC\" (64-bit
//                          view); ends with 1 if that fails. When a file
//                          "aegira_setup.hold" lies beside the program, nothing
//                          is written: an installer that needs a restart
//                          before the product reports itself
//   /add-pending=LIST      as test_uninstaller: appends LIST ("|" between
//   /record-pending=PATH   strings) to the pending file renames, or records
//                          the pending list and Clearon's set-aside copy
//   /exit=CODE             ends now with CODE (decimal)
//
// Anything else (Clearon's own arguments, appended by Clearon) is ignored.
// Without /exit the program ends with 0.
//
// Example:
//   setup.exe /version=11.0.5002.333 /record-pending=C:\t\p.txt
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "pending_renames_actions.h"

namespace {

constexpr wchar_t kCallsFile[] = L"aegira_setup_calls.txt";
constexpr wchar_t kHoldFile[] = L"aegira_setup.hold";
constexpr wchar_t kAegiraKey[] = L"SOFTWARE\\Tessaral\\Aegira\\QRC";
constexpr wchar_t kVersionValue[] = L"ProductVersion";

std::wstring OwnDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L'\\'));
}

void RecordCall(const std::wstring& directory) {
    const std::wstring line = std::wstring(GetCommandLineW()) + L"\r\n";
    HANDLE file = CreateFileW((directory + L"\\" + kCallsFile).c_str(), FILE_APPEND_DATA, 0,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"aegira_setup_standin: cannot record the call\n");
        return;
    }
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
              nullptr);
    CloseHandle(file);
}

bool WriteVersion(const std::wstring& version) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAegiraKey, 0, nullptr, 0,
                                     KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, kVersionValue, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(version.c_str()),
                                static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        fwprintf(stderr, L"aegira_setup_standin: cannot write the version (%ld)\n",
                 static_cast<long>(status));
    }
    return status == ERROR_SUCCESS;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring directory = OwnDirectory();
    RecordCall(directory);
    const bool hold =
        GetFileAttributesW((directory + L"\\" + kHoldFile).c_str()) != INVALID_FILE_ATTRIBUTES;
    int exitCode = 0;
    for (int i = 1; i < argc; ++i) {
        const std::wstring_view token = argv[i];
        auto value = [&](std::wstring_view prefix) {
            return std::wstring(token.substr(prefix.size()));
        };
        if (token.starts_with(L"/version=")) {
            if (!hold && !WriteVersion(value(L"/version="))) exitCode = 1;
        } else if (token.starts_with(L"/add-pending=")) {
            pending_actions::AddPending(value(L"/add-pending="));
        } else if (token.starts_with(L"/record-pending=")) {
            pending_actions::RecordPending(value(L"/record-pending="));
        } else if (token.starts_with(L"/exit=")) {
            return static_cast<int>(std::wcstol(value(L"/exit=").c_str(), nullptr, 10));
        }
    }
    return exitCode;
}
