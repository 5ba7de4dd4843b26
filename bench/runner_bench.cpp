// What waiting for an uninstaller costs. Launches the test uninstaller
// (lingering a given time, then marking its end) and waits for it in one of
// three ways, printing the CPU time this process spent waiting and how late
// the end was noticed:
//   idle    WaitForSingleObject on the process: the floor, no polling at all
//   bare    the plain polling loop: every 20 ms three EnumProcesses and one
//           process snapshot walk, nothing else
//   runner  Clearon's RunProgram (its log gives the exit-code line's time)
// Usage: runner_bench.exe MODE LINGER_MS UNINSTALLER_EXE SCRATCH_DIR
// Output, one line: mode=... cpu_ms=... wall_ms=... end_delay_ms=...
// bench/runner_bench.sh builds it, runs the modes and adds the wineserver's
// CPU time.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "removal/program_runner.h"
#include "platform/run_state.h"
#include "startup/run_context.h"

namespace {

std::uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

double OwnCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return static_cast<double>(FromFileTime(kernel) + FromFileTime(user)) / 10000.0;
}

// Milliseconds since midnight of a "MM/DD/YYYY HH:MM:SS:mmm" stamp (the run
// log's and the test uninstaller's format); -1 when it does not parse.
double StampMs(const std::wstring& stamp) {
    int month, day, year, hour, minute, second, ms;
    if (swscanf(stamp.c_str(), L"%d/%d/%d %d:%d:%d:%d", &month, &day, &year, &hour, &minute,
                &second, &ms) != 7) {
        return -1;
    }
    return ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + ms;
}

std::wstring NowStamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t text[32] = {};
    swprintf(text, 32, L"%02d/%02d/%04d %02d:%02d:%02d:%03d", now.wMonth, now.wDay, now.wYear,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

std::wstring ReadUtf16(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    text.resize(read / sizeof(wchar_t));
    return text;
}

// The stamp that follows `key` on the last line containing it.
std::wstring StampAfter(const std::wstring& text, const std::wstring& key, bool stampBeforeKey) {
    const std::size_t at = text.rfind(key);
    if (at == std::wstring::npos) return {};
    if (stampBeforeKey) return at >= 23 ? text.substr(at - 23, 23) : std::wstring();
    return text.substr(at + key.size(), 23);
}

HANDLE Launch(std::wstring command, DWORD* processId) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    *processId = info.dwProcessId;
    return info.hProcess;
}

bool Enumerate(std::vector<DWORD>& ids) {
    ids.resize(1024);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes))
        return false;
    ids.resize(bytes / sizeof(DWORD));
    return true;
}

void BareLoop(DWORD processId) {
    std::vector<DWORD> ids;
    for (;;) {
        if (!Enumerate(ids)) return;
        bool alive = false;
        for (DWORD id : ids) alive = alive || id == processId;
        if (!alive) return;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry{};
            entry.dwSize = sizeof(entry);
            for (BOOL more = Process32FirstW(snapshot, &entry); more;
                 more = Process32NextW(snapshot, &entry)) {
            }
            CloseHandle(snapshot);
        }
        (void)Enumerate(ids);
        (void)Enumerate(ids);
        Sleep(20);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        fwprintf(
            stderr,
            L"usage: runner_bench.exe idle|bare|runner LINGER_MS UNINSTALLER_EXE SCRATCH_DIR\n");
        return 2;
    }
    const std::wstring mode = argv[1];
    const std::wstring scratch = argv[4];
    const std::wstring marks = scratch + L"\\bench-marks.txt";
    const std::wstring log = scratch + L"\\bench-run.log";
    DeleteFileW(marks.c_str());
    DeleteFileW(log.c_str());
    const std::wstring command =
        L"\"" + std::wstring(argv[3]) + L"\" /sleep=" + argv[2] + L" /name=end /mark=" + marks;

    const double cpuBefore = OwnCpuMs();
    const ULONGLONG wallBefore = GetTickCount64();
    std::wstring noticed;
    if (mode == L"runner") {
        clearon::g_runState.exeDirectory = scratch;
        clearon::g_runState.logFilePath = log;
        clearon::g_runState.loggingEnabled = true;
        clearon::RunProgram(command, false, nullptr);
        noticed = StampAfter(ReadUtf16(log), L" Exit code: ", true);
    } else {
        DWORD processId = 0;
        HANDLE process = Launch(command, &processId);
        if (process == nullptr) return 3;
        if (mode == L"bare") {
            BareLoop(processId);
        } else {
            WaitForSingleObject(process, INFINITE);
        }
        noticed = NowStamp();
        CloseHandle(process);
    }
    const double cpuMs = OwnCpuMs() - cpuBefore;
    const ULONGLONG wallMs = GetTickCount64() - wallBefore;
    const std::wstring ended = StampAfter(ReadUtf16(marks), L" at=", false);
    wprintf(L"mode=%ls cpu_ms=%.0f wall_ms=%llu end_delay_ms=%.0f\n", mode.c_str(), cpuMs, wallMs,
            StampMs(noticed) - StampMs(ended));
    return 0;
}
