// Plays what Windows does with the current user's RunOnce key at logon, which
// Wine does not do: read one value of
// HKCU\Software\Microsoft\Windows\CurrentVersion\RunOnce, delete it, and run
// its command line exactly as stored (blanks included, which a shell would
// collapse). With /machine, the machine's key (HKLM) instead, which Windows
// runs at the logon of an administrator and Wine only at boot.
//
//   logon_runonce.exe NAME [/machine] [/wait=MS]
//
// Waits up to MS milliseconds (default 60000) for the started program and
// ends with its exit code. Ends with 255 when the value is missing, 254 when
// the command could not be started, 253 when it did not end in time.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr int kNoValue = 255;
constexpr int kNotStarted = 254;
constexpr int kTimedOut = 253;

// Reads and deletes the value; false when there is none.
bool TakeValue(HKEY root, const wchar_t* name, std::wstring& command) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, kRunOnceKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    DWORD type = 0;
    bool found = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
                 (type == REG_SZ || type == REG_EXPAND_SZ);
    if (found) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        found = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                                 &size) == ERROR_SUCCESS;
        command = data.data();
        // As Windows does: the value goes before its command runs.
        RegDeleteValueW(key, name);
    }
    RegCloseKey(key);
    return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        fwprintf(stderr, L"usage: logon_runonce NAME [/machine] [/wait=MS]\n");
        return kNoValue;
    }
    DWORD waitMs = 60000;
    HKEY root = HKEY_CURRENT_USER;
    for (int i = 2; i < argc; ++i) {
        const std::wstring_view option = argv[i];
        if (option == L"/machine") root = HKEY_LOCAL_MACHINE;
        if (option.starts_with(L"/wait=")) {
            waitMs = static_cast<DWORD>(std::wcstoul(argv[i] + 6, nullptr, 10));
        }
    }
    std::wstring command;
    if (!TakeValue(root, argv[1], command)) {
        fwprintf(stderr, L"logon_runonce: no RunOnce value %ls\n", argv[1]);
        return kNoValue;
    }
    wprintf(L"logon_runonce: running %ls\n", command.c_str());
    fflush(stdout);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        fwprintf(stderr, L"logon_runonce: cannot start (%lu)\n", GetLastError());
        return kNotStarted;
    }
    CloseHandle(info.hThread);
    int result = kTimedOut;
    if (WaitForSingleObject(info.hProcess, waitMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        result = static_cast<int>(code);
    }
    CloseHandle(info.hProcess);
    return result;
}
