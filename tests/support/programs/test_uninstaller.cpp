// A stand-in for any uninstaller, played by its command line. It runs its
// actions from left to right:
//
//   /name=LABEL            label of the lines that later /mark actions write
//                          (default "test_uninstaller"); children do not
//                          inherit it
//   /mark=PATH             appends one line to the UTF-16LE file PATH:
//                            LABEL pid=<id> parent=<id> at=<MM/DD/YYYY HH:MM:SS:mmm>
//                              cwd=<current directory> exe=<own path>\r\n
//                          (one line; the fields are separated by one blank)
//                          (local time in the run log's format, so a test can
//                          compare it with log lines; concurrent writers wait
//                          for each other, so lines never interleave)
//   /sleep=MS              lingers MS milliseconds
//   /wait=NAME             lingers until the named event NAME is set (a test
//                          sets it once it has seen what it waits for), at
//                          most five minutes, so that a test that ended early
//                          leaves nothing behind for long
//   /delete-key=ROOT\KEY   deletes KEY with all its subkeys and values; ROOT is
//                          HKLM or HKCU (64-bit view); a missing key is fine
//   /spawn( ACTION... )    starts this same program again with the enclosed
//                          actions and goes on at once, without waiting; groups
//                          nest, so a child can start a grandchild. "/spawn("
//                          and ")" are tokens of their own (blanks around them)
//   /add-pending=LIST      appends LIST to HKLM's pending file-rename list
//                          ("PendingFileRenameOperations" under Session
//                          Manager, REG_MULTI_SZ), as an uninstaller does when
//                          a file is in use; "|" separates the strings
//                          (\??\C:\a.dll| is a.dll and an empty target)
//   /record-pending=PATH   appends one UTF-16LE line to PATH:
//                            system=<list> aside=<list>\r\n
//                          the pending list and Clearon's set-aside copy
//                          ("PendingFileRenameOperations_Clearon"), every NUL
//                          written as "|", "-" for a missing value
//   /wait-for=PATH         waits until the file PATH exists (at most two
//                          minutes), for a test that decides when it goes on
//   /end-session=EXE       plays Windows ending the session for every process
//                          whose program file is named EXE: sends
//                          WM_QUERYENDSESSION to each of their top-level
//                          windows, hidden ones included, then WM_ENDSESSION
//                          (TRUE), and ends nothing; ends now with 1 when no
//                          such window exists
//   /exit-unless-marked=N,CODE,PATH
//                          ends now with CODE while the mark file PATH holds
//                          fewer than N lines (a stand-in that fails its
//                          first tries: mark first, then this)
//   /exit=CODE             ends now with CODE: decimal, negative allowed
//                          (-1073741819), or hexadecimal with 0x (0xC0000005)
//
// Without /exit the program ends with 0 after its last action. Unknown tokens
// are reported on standard error and skipped (a program started through a
// wrong prefix of a command line sees stray tokens and still marks).
//
// Examples:
//   test_uninstaller.exe /delete-key=HKLM\Software\Acme /exit=3010
//   test_uninstaller.exe /mark=C:\t\m.txt /spawn( /name=copy /sleep=2000
//       /delete-key=HKLM\Software\Acme /mark=C:\t\m.txt ) /exit=0
//     (an NSIS-like uninstaller: starts its copy and ends within milliseconds)
//   test_uninstaller.exe /spawn( /spawn( /name=grandchild /sleep=3000
//       /mark=C:\t\m.txt ) ) /exit=-1
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "pending_renames_actions.h"

namespace {

std::wstring g_label = L"test_uninstaller";

std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring CurrentDirectory() {
    wchar_t directory[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    return directory;
}

DWORD ParentId() {
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

std::wstring Timestamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t text[32] = {};
    swprintf(text, 32, L"%02d/%02d/%04d %02d:%02d:%02d:%03d", now.wMonth, now.wDay, now.wYear,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

void Mark(const std::wstring& path) {
    const std::wstring line = g_label + L" pid=" + std::to_wstring(GetCurrentProcessId()) +
                              L" parent=" + std::to_wstring(ParentId()) + L" at=" + Timestamp() +
                              L" cwd=" + CurrentDirectory() + L" exe=" + OwnPath() + L"\r\n";
    // Exclusive open, retried: a parent and its children may mark the same
    // file at the same moment.
    for (int attempt = 0; attempt < 500; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)),
                      &written, nullptr);
            CloseHandle(file);
            return;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION) break;
        Sleep(10);
    }
    fwprintf(stderr, L"test_uninstaller: cannot mark %ls\n", path.c_str());
}

void DeleteKey(std::wstring_view rootAndKey) {
    HKEY root = nullptr;
    std::wstring_view key;
    if (rootAndKey.starts_with(L"HKLM\\")) {
        root = HKEY_LOCAL_MACHINE;
        key = rootAndKey.substr(5);
    } else if (rootAndKey.starts_with(L"HKCU\\")) {
        root = HKEY_CURRENT_USER;
        key = rootAndKey.substr(5);
    } else {
        fwprintf(stderr, L"test_uninstaller: root must be HKLM or HKCU: %ls\n",
                 std::wstring(rootAndKey).c_str());
        return;
    }
    const std::wstring subkey(key);
    RegDeleteTreeW(root, subkey.c_str());
    RegDeleteKeyExW(root, subkey.c_str(), KEY_WOW64_64KEY, 0);
}

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

void Spawn(const std::vector<std::wstring>& actions) {
    std::wstring line = L"\"" + OwnPath() + L"\"";
    for (const auto& action : actions) line += L" " + QuoteArgument(action);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        fwprintf(stderr, L"test_uninstaller: cannot spawn (%lu)\n", GetLastError());
        return;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

void WaitFor(const std::wstring& path) {
    for (int waited = 0;
         waited < 120000 && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 20) {
        Sleep(20);
    }
}

std::size_t MarkCount(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    std::size_t lines = 0;
    for (std::size_t at = text.find(L"\r\n"); at != std::wstring::npos;
         at = text.find(L"\r\n", at + 2))
        ++lines;
    return lines;
}

// Each process named `exe` (its file name, in any case).
std::vector<DWORD> ProcessesNamed(const std::wstring& exe) {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, exe.c_str()) == 0) ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return ids;
}

struct WindowSearch {
    std::vector<DWORD> processes;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM search) {
    auto* found = reinterpret_cast<WindowSearch*>(search);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    for (DWORD id : found->processes) {
        if (id == process) found->windows.push_back(window);
    }
    return TRUE;
}

// As Windows does: every window is asked first, then every window is told.
bool EndSessionOf(const std::wstring& exe) {
    WindowSearch search{ProcessesNamed(exe), {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    if (search.windows.empty()) {
        fwprintf(stderr, L"test_uninstaller: no top-level window of %ls\n", exe.c_str());
        return false;
    }
    constexpr UINT kAnswerMs = 30000;
    for (HWND window : search.windows) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, kAnswerMs, &answer);
    }
    for (HWND window : search.windows) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, kAnswerMs, &answer);
    }
    wprintf(L"test_uninstaller: session end sent to %zu windows of %ls\n", search.windows.size(),
            exe.c_str());
    return true;
}

int ParseExitCode(std::wstring_view text) {
    const std::wstring value(text);
    if (value.starts_with(L"0x") || value.starts_with(L"0X")) {
        return static_cast<int>(std::wcstoul(value.c_str() + 2, nullptr, 16));
    }
    return static_cast<int>(std::wcstol(value.c_str(), nullptr, 10));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> tokens(argv + 1, argv + argc);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::wstring_view token = tokens[i];
        auto value = [&](std::wstring_view prefix) { return token.substr(prefix.size()); };
        if (token == L"/spawn(") {
            // Collect the group up to its matching ")".
            std::vector<std::wstring> group;
            int depth = 1;
            for (++i; i < tokens.size(); ++i) {
                if (tokens[i] == L"/spawn(") ++depth;
                if (tokens[i] == L")" && --depth == 0) break;
                group.push_back(tokens[i]);
            }
            Spawn(group);
        } else if (token.starts_with(L"/name=")) {
            g_label = value(L"/name=");
        } else if (token.starts_with(L"/mark=")) {
            Mark(std::wstring(value(L"/mark=")));
        } else if (token.starts_with(L"/sleep=")) {
            Sleep(static_cast<DWORD>(
                std::wcstoul(std::wstring(value(L"/sleep=")).c_str(), nullptr, 10)));
        } else if (token.starts_with(L"/wait=")) {
            const std::wstring name(value(L"/wait="));
            HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
            if (event == nullptr) {
                fwprintf(stderr, L"test_uninstaller: cannot wait for %ls\n", name.c_str());
            } else {
                WaitForSingleObject(event, 5 * 60 * 1000);
                CloseHandle(event);
            }
        } else if (token.starts_with(L"/delete-key=")) {
            DeleteKey(value(L"/delete-key="));
        } else if (token.starts_with(L"/add-pending=")) {
            pending_actions::AddPending(value(L"/add-pending="));
        } else if (token.starts_with(L"/record-pending=")) {
            pending_actions::RecordPending(std::wstring(value(L"/record-pending=")));
        } else if (token.starts_with(L"/wait-for=")) {
            WaitFor(std::wstring(value(L"/wait-for=")));
        } else if (token.starts_with(L"/end-session=")) {
            if (!EndSessionOf(std::wstring(value(L"/end-session=")))) return 1;
        } else if (token.starts_with(L"/exit-unless-marked=")) {
            const std::wstring rule(value(L"/exit-unless-marked="));
            const std::size_t first = rule.find(L',');
            const std::size_t second = rule.find(L',', first + 1);
            if (first == std::wstring::npos || second == std::wstring::npos) continue;
            const std::size_t needed = std::wcstoul(rule.substr(0, first).c_str(), nullptr, 10);
            if (MarkCount(rule.substr(second + 1)) < needed) {
                return ParseExitCode(rule.substr(first + 1, second - first - 1));
            }
        } else if (token.starts_with(L"/exit=")) {
            return ParseExitCode(value(L"/exit="));
        } else {
            fwprintf(stderr, L"test_uninstaller: skipping unknown token %ls\n", tokens[i].c_str());
        }
    }
    return 0;
}
