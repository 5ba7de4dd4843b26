#include "removal/program_runner.h"

#include <windows.h>
#include <tlhelp32.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/log_format.h"
#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/handles.h"
#include "platform/platform_info.h"
#include "removal/command_line.h"
#include "removal/program_path.h"
#include "removal/process_tree.h"
#include "platform/run_state.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

constexpr DWORD kPauseMs = 20;

// A member of the tree, held open until the wait is over. Holding it is what
// keeps Windows from giving its id to a newcomer.
class WindowsHeldProcess final : public HeldProcess {
public:
    WindowsHeldProcess(UniqueKernelHandle handle, std::uint64_t created) noexcept
        : handle_(std::move(handle)), created_(created) {}

    [[nodiscard]] std::uint64_t CreationTime() const noexcept override { return created_; }

    [[nodiscard]] bool HasEnded() noexcept override {
        // A wait that fails cannot tell; counting the process as ended keeps
        // a broken handle from holding the run forever.
        return WaitForSingleObject(handle_.get(), 0) != WAIT_TIMEOUT;
    }

    [[nodiscard]] HANDLE get() const noexcept { return handle_.get(); }

private:
    UniqueKernelHandle handle_;
    std::uint64_t created_;
};

[[nodiscard]] std::uint64_t FromFileTime(const FILETIME& time) noexcept {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

[[nodiscard]] std::optional<std::uint64_t> CreationTimeOf(HANDLE process) noexcept {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
    return FromFileTime(created);
}

// The clock that creation times are compared with. The precise clock
// (Windows 8 and later) matters: the ordinary one lags by up to a tick, and a
// child created within that tick would look newer than the snapshot.
[[nodiscard]] std::uint64_t SystemTimeNow() noexcept {
    using PreciseClock = VOID(WINAPI*)(LPFILETIME);
    static const auto precise = reinterpret_cast<PreciseClock>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetSystemTimePreciseAsFileTime")));
    FILETIME now{};
    if (precise != nullptr) {
        precise(&now);
    } else {
        GetSystemTimeAsFileTime(&now);
    }
    return FromFileTime(now);
}

std::unique_ptr<HeldProcess> OpenTreeProcess(std::uint32_t processId) {
    // The least access that answers both questions asked of a member: when
    // was it created (limited query) and has it ended (synchronize).
    UniqueKernelHandle handle(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
    if (!handle) return nullptr;
    const std::optional<std::uint64_t> created = CreationTimeOf(handle.get());
    if (!created) return nullptr;
    return std::make_unique<WindowsHeldProcess>(std::move(handle), *created);
}

std::optional<ProcessSnapshot> TakeProcessSnapshot() {
    UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return std::nullopt;
    ProcessSnapshot result;
    // Read after the snapshot: every process it lists was created before.
    result.takenAt = SystemTimeNow();
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return std::nullopt;
    do {
        result.entries.push_back(ProcessEntry{entry.th32ProcessID, entry.th32ParentProcessID});
    } while (Process32NextW(snapshot.get(), &entry));
    return result;
}

[[nodiscard]] bool IsExistingFile(std::wstring_view path) {
    const std::wstring terminated(path);
    const DWORD attributes = GetFileAttributesW(terminated.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

[[nodiscard]] std::wstring CurrentDirectory() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size);
    const DWORD length = GetCurrentDirectoryW(size, buffer.data());
    return length == 0 || length >= size ? std::wstring() : std::wstring(buffer.data(), length);
}

void Pause(NoticePause notice, const ProcessTree& tree) {
    // Without a desktop the notice cannot be created; the ordinary pause
    // then keeps the wait from spinning.
    if (notice != nullptr && notice()) return;
    // The ordinary pause ends early when a member ends, so the end of the
    // tree is logged within one check of it rather than one pause later.
    HANDLE alive[MAXIMUM_WAIT_OBJECTS];
    DWORD count = 0;
    for (const auto& member : tree.treeIds) {
        if (member.ended || count == MAXIMUM_WAIT_OBJECTS) continue;
        // Every member of a tree on this side was made by OpenTreeProcess or
        // LaunchAndWait, both as WindowsHeldProcess.
        alive[count++] = static_cast<const WindowsHeldProcess*>(member.process.get())->get();
    }
    if (count == 0) {
        Sleep(kPauseMs);
        return;
    }
    (void)WaitForMultipleObjects(count, alive, FALSE, kPauseMs);
}

[[nodiscard]] LaunchResult LaunchAndWait(std::wstring_view commandLine, bool redirect32Bit,
                                         NoticePause notice, std::uint32_t timeLimitMinutes,
                                         const RightsPolicy* rights) {
    const std::wstring windowsDirectory = WindowsDirectory();
    const std::wstring path = EnvironmentVariableOfAnyLength(L"PATH");
    const std::wstring currentDirectory = CurrentDirectory();
    LaunchChecks checks{{g_runState.exeDirectory, g_runState.systemDirectory,
                         g_runState.wow64SystemDirectory, windowsDirectory, path},
                        currentDirectory,
                        rights != nullptr ? &rights->reader : nullptr,
                        rights != nullptr ? rights->trusted : TrustedWriters{}};
    const PreparedCommand prepared =
        CheckLaunch(PrepareCommandLine(commandLine, redirect32Bit, g_runState.systemDirectory,
                                       g_runState.wow64SystemDirectory, IsExistingFile),
                    redirect32Bit, checks, IsExistingFile);
    if (prepared.verdict == CommandVerdict::NotInSafeFolders ||
        prepared.verdict == CommandVerdict::UserWritable) {
        LogTimestamped(LaunchRefusalMessage(prepared));
        return {};
    }
    if (prepared.verdict == CommandVerdict::TooLong) {
        LogTimestamped(CommandTooLongMessage(commandLine));
        return {};
    }
    if (prepared.verdict == CommandVerdict::Unresolved) {
        LogTimestamped(ProgramNotFoundMessage(prepared.commandLine));
        return {};
    }

    if (!prepared.lookedUp.empty()) LogTimestamped(LookedUpMessage(prepared));
    LogTimestamped(std::wstring(kLogAttemptingToRun) + VisibleText(prepared.commandLine) +
                   std::wstring(kLineEnd));

    // CreateProcessW may write into the command line, so it gets a copy of
    // its own, terminated.
    std::vector<wchar_t> commandBuffer(prepared.commandLine.begin(), prepared.commandLine.end());
    commandBuffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);  // nothing else: a windowed program shows itself as it chooses
    PROCESS_INFORMATION info{};
    // clang-format off
    const BOOL launched = CreateProcessW(
        nullptr,               // no application name: the program is the command's first token, a full path
        commandBuffer.data(),  // writable command line
        nullptr,               // default process security
        nullptr,               // default thread security
        TRUE,                  // inherit handles: uninstallers expect our standard handles
        CREATE_NO_WINDOW,      // a console uninstaller gets no console window
        nullptr,               // our own environment
        nullptr,               // our current directory (the 32-bit one while redirected)
        &startup,              // all zero but its size
        &info);                // handles and id of the launched program
    // clang-format on
    if (!launched) {
        LogTimestamped(kLogFailedToLaunch);
        return {};
    }
    UniqueProcessInformation program;
    program.Adopt(info);
    program.thread.reset();

    const HANDLE programHandle = program.process.get();
    const std::uint64_t programCreated = CreationTimeOf(programHandle).value_or(0);
    ProcessTree tree = StartProcessTree(
        program.processId,
        std::make_unique<WindowsHeldProcess>(std::move(program.process), programCreated));
    const ULONGLONG launchedAt = GetTickCount64();
    const ULONGLONG limitMs = static_cast<ULONGLONG>(timeLimitMinutes) * 60 * 1000;
    while (!CheckProcessTree(tree, TakeProcessSnapshot, OpenTreeProcess)) {
        if (limitMs != 0 && GetTickCount64() - launchedAt >= limitMs) {
            // The held handles close with the tree; the processes go on.
            LogTimestamped(std::wstring(kLogTimeLimitPassed) + std::to_wstring(timeLimitMinutes) +
                           std::wstring(kLogTimeLimitLeftRunning));
            return {true, std::nullopt};
        }
        Pause(notice, tree);
    }

    // The tree still holds the program's handle here.
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(programHandle, &exitCode)) exitCode = 0;
    LogTimestamped(std::wstring(kLogExitCode) + FormatExitCode(exitCode) + std::wstring(kLineEnd));
    return {true, exitCode};
}

}  // namespace

LaunchResult RunProgram(std::wstring_view commandLine, bool redirect32Bit, NoticePause notice,
                        std::uint32_t timeLimitMinutes, const RightsPolicy* rights) {
    if (commandLine.empty()) return {};
    if (redirect32Bit) {
        // While redirected, the 32-bit system directory is also the current
        // directory, which Windows searches before the system directory for
        // a program named without a path. A failure is ignored.
        (void)SetCurrentDirectoryW(g_runState.wow64SystemDirectory.c_str());
    }
    const LaunchResult result =
        LaunchAndWait(commandLine, redirect32Bit, notice, timeLimitMinutes, rights);
    // "C:" alone would name the drive's current directory, which is the
    // 32-bit system directory just set: the root needs its backslash.
    if (redirect32Bit) (void)SetCurrentDirectoryW(AsDirectoryPath(g_runState.exeDirectory).c_str());
    return result;
}

}  // namespace clearon
