#include "log/run_log.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>

#include "log/log_format.h"
#include "log/log_texts.h"
#include "platform/handles.h"
#include "platform/run_state.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

// Owner of the message boxes: "Information", one OK button.
constexpr wchar_t kInformationCaption[] = L"Information";

// Reported texts share the 255-character field of every other message.
constexpr std::size_t kMaxMessageLength = kMaxFieldLength;

// The full path Windows makes of `path` (relative parts and "..", short
// 8.3 names expanded), or `path` itself when it cannot.
std::wstring FullLongPath(const std::wstring& path) {
    const DWORD fullSize = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (fullSize == 0) return path;
    std::wstring full(fullSize, L'\0');
    const DWORD fullLength = GetFullPathNameW(path.c_str(), fullSize, full.data(), nullptr);
    if (fullLength == 0 || fullLength >= fullSize) return path;
    full.resize(fullLength);
    const DWORD longSize = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (longSize == 0) return full;
    std::wstring longPath(longSize, L'\0');
    const DWORD longLength = GetLongPathNameW(full.c_str(), longPath.data(), longSize);
    if (longLength == 0 || longLength >= longSize) return full;
    longPath.resize(longLength);
    return longPath;
}

// Where Windows says the open file really is; empty when it cannot say.
std::wstring FinalPath(HANDLE file) {
    const DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, FILE_NAME_NORMALIZED);
    if (size == 0) return {};
    std::wstring path(size, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file, path.data(), size, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= size) return {};
    path.resize(length);
    return path;
}

// The drive type of a full path's volume; DRIVE_REMOTE for a UNC path.
UINT DriveTypeOf(const std::wstring& fullPath) {
    if (fullPath.starts_with(L"\\\\")) return DRIVE_REMOTE;
    if (fullPath.size() < 2 || fullPath[1] != L':') return DRIVE_UNKNOWN;
    const std::wstring root = fullPath.substr(0, 2) + L"\\";
    return GetDriveTypeW(root.c_str());
}

[[nodiscard]] bool IsOnNetwork(const std::wstring& path) {
    return !path.empty() && DriveTypeOf(FullLongPath(path)) == DRIVE_REMOTE;
}

[[nodiscard]] bool IsLocalVolume(UINT driveType) noexcept {
    return driveType == DRIVE_FIXED || driveType == DRIVE_REMOVABLE || driveType == DRIVE_RAMDISK;
}

// Where `handle` really is, when that is not `meant` (a full path with long
// names): a link on the way led elsewhere. Compared as Windows compares
// names, ignoring case in every script, not just A-Z. Nothing when they
// agree or Windows cannot say.
std::optional<std::wstring> MovedTo(HANDLE handle, const std::wstring& meant) {
    const std::wstring real = FinalPath(handle);
    if (real.empty()) return std::nullopt;
    std::wstring written = DosPathOf(real);
    if (CompareStringOrdinal(meant.c_str(), static_cast<int>(meant.size()), written.c_str(),
                             static_cast<int>(written.size()), TRUE) == CSTR_EQUAL) {
        return std::nullopt;
    }
    return written;
}

// The log's folder, when a link in its path leads elsewhere. Asked before
// the log is opened, so that a missing log is never created where the link
// points.
std::optional<std::wstring> FolderMovedTo(const std::wstring& fullPath) {
    const std::size_t slash = fullPath.rfind(L'\\');
    if (slash == std::wstring::npos) return std::nullopt;
    std::wstring folder = fullPath.substr(0, slash);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    const UniqueFileHandle opened(
        CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,  // asks, holds nothing
                    nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS,  // a folder opens only with it
                    nullptr));
    if (!opened) return std::nullopt;
    std::optional<std::wstring> moved = MovedTo(opened.get(), FullLongPath(folder));
    if (moved) *moved += fullPath.substr(slash + (fullPath[slash - 1] == L':' ? 1 : 0));
    return moved;
}

// Opens `path` for appending: an existing file is opened as it is, a missing
// one is created, in one step (OPEN_ALWAYS: no window between a test and the
// open in which another file could be swapped in). A reparse point is opened
// as itself, never followed, and refused, as is a file with more than one
// link: in a folder users can write to, either would make this process
// append to a file of someone else's choosing. A link higher up (a folder
// of the path swapped for a junction, or a symbolic link) is caught by
// asking where the folder, and then the opened file, really are; that answer
// is only compared on a local volume, where it is exact. Nobody may delete or
// rename the file while it is open; readers and writers may open it beside
// us: every entry is one write at the end of the file, so entries never
// interleave, and a second Clearon that waits for this run still gets its
// line in.
UniqueFileHandle OpenForAppend(const std::wstring& path, LogOpen& outcome,
                               std::wstring& finalPath) noexcept {
    outcome = LogOpen::Failed;
    if (path.empty()) return UniqueFileHandle();
    try {
        const bool local = IsLocalVolume(DriveTypeOf(FullLongPath(path)));
        if (local) {
            if (std::optional<std::wstring> moved = FolderMovedTo(FullLongPath(path))) {
                finalPath = std::move(*moved);
                outcome = LogOpen::Moved;
                return UniqueFileHandle();
            }
        }
        UniqueFileHandle file(CreateFileW(
            path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE,  // never FILE_SHARE_DELETE: no swap while open
            nullptr,                             // not inherited by the programs the run starts
            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return file;
        BY_HANDLE_FILE_INFORMATION information{};
        if (!GetFileInformationByHandle(file.get(), &information) ||
            (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
            information.nNumberOfLinks > 1) {
            outcome = LogOpen::Refused;
            return UniqueFileHandle();
        }
        if (local) {
            // The folder may have been swapped between the two looks.
            if (std::optional<std::wstring> moved = MovedTo(file.get(), FullLongPath(path))) {
                finalPath = std::move(*moved);
                outcome = LogOpen::Moved;
                return UniqueFileHandle();
            }
        }
        outcome = LogOpen::Opened;
        return file;
    } catch (...) {
        // Without memory for the paths the file is not used.
        return UniqueFileHandle();
    }
}

// One write at the current end of the file. True when all of `text` went.
[[nodiscard]] bool WriteAtEnd(const UniqueFileHandle& file, std::wstring_view text) noexcept {
    // Offset and OffsetHigh both 0xFFFFFFFF ask Windows to write at the
    // current end of the file, so an entry never lands on top of another
    // even if the file grew since it was opened. wchar_t is one UTF-16 unit
    // on Windows, so the characters are written as they are: UTF-16LE, no
    // byte-order mark, no terminator.
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    const auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    return WriteFile(file.get(), text.data(), bytes, &written, &atEnd) && written == bytes;
}

class WindowsLogFiles final : public LogFiles {
public:
    LogOpen OpenRunLog(std::wstring& finalPath) override {
        LogOpen outcome = LogOpen::Failed;
        runLog_ = OpenForAppend(g_runState.logFilePath, outcome, finalPath);
        return outcome;
    }
    bool WriteRunLog(std::wstring_view text) override { return WriteAtEnd(runLog_, text); }
    void CloseRunLog() override { runLog_.reset(); }
    bool RunLogOnNetwork() override { return IsOnNetwork(g_runState.logFilePath); }
    bool AppendToErrorLog(std::wstring_view text) override {
        LogOpen outcome = LogOpen::Failed;
        std::wstring ignored;
        const UniqueFileHandle file =
            OpenForAppend(ErrorLogPath(g_runState.exeDirectory), outcome, ignored);
        return file && WriteAtEnd(file, text);
    }
    std::wstring Timestamp() override { return CurrentTimestamp(); }

private:
    UniqueFileHandle runLog_;
};

// The main thread and the worker both log: one writer, one at a time.
std::mutex g_writerLock;
WindowsLogFiles g_logFiles;
RunLogWriter g_writer(g_logFiles);

// Standard output of a silent run carries the message as UTF-8: the callers
// are deployment systems and shells that capture it into files or pipes,
// where a console code page would mean nothing and would turn every
// character outside it into "?". ASCII messages read the same either way.
void WriteToStandardOutput(std::wstring_view text) noexcept {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty()) return;
    const int length = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), bytes, nullptr,
                            nullptr) != bytes) {
        return;
    }
    DWORD written = 0;
    (void)WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

void AppendToLog(std::wstring_view text) noexcept {
    if (!g_runState.loggingEnabled || text.empty()) return;
    try {
        const std::lock_guard lock(g_writerLock);
        g_writer.Append(text, !g_runState.logFilePath.empty());
    } catch (...) {
        // Only composing paths allocates; without memory the entry is
        // dropped like any other that cannot be written.
    }
}

void AppendToErrorLog(std::wstring_view message) noexcept {
    try {
        const std::lock_guard lock(g_writerLock);
        (void)g_logFiles.AppendToErrorLog(CurrentTimestamp() + std::wstring(message));
    } catch (...) {
        // Without memory the line is lost.
    }
}

void HoldRunLog() noexcept {
    if (!g_runState.loggingEnabled) return;
    try {
        const std::lock_guard lock(g_writerLock);
        g_writer.Hold();
    } catch (...) {
        // Not held: every entry opens the log for itself.
    }
}

std::wstring CurrentTimestamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return FormatTimestamp(now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond,
                           now.wMilliseconds);
}

void LogTimestamped(std::wstring_view message) noexcept {
    try {
        AppendToLog(CurrentTimestamp() + std::wstring(message));
    } catch (...) {
        // No memory for the line: the message still goes out, untimestamped.
        AppendToLog(message);
    }
}

void LogRunEnd() noexcept {
    std::uint32_t unwritten = 0;
    try {
        const std::lock_guard lock(g_writerLock);
        unwritten = g_writer.unwrittenEntries();
    } catch (...) {
        // Unknown: nothing to say about it.
    }
    if (unwritten > 0) {
        try {
            LogTimestamped(UnwrittenEntriesLine(unwritten));
        } catch (...) {
            // Without memory for the line the count goes unsaid.
        }
    }
    LogTimestamped(kLogStopping);
}

void ReportMessage(std::wstring_view text, MessageSink sink) noexcept {
    // Messages are 254-character texts; a longer one is cut at that length
    // for the log and the screen alike, so both always say the same thing.
    const std::wstring_view shown = text.substr(0, kMaxMessageLength);
    try {
        AppendToLog(std::wstring(shown) + std::wstring(kLineEnd));
    } catch (...) {
        // Without memory for the line it goes unlogged; it is still shown.
    }
    if (sink == MessageSink::LogOnly) return;
    if (sink == MessageSink::StandardOutput) {
        WriteToStandardOutput(shown);
        return;
    }
    try {
        const std::wstring terminated(shown);
        MessageBoxW(g_runState.mainWindow, terminated.c_str(), kInformationCaption, MB_OK);
    } catch (...) {
        // Without memory for the copy there is nothing to show; it is logged.
    }
}

}  // namespace clearon
