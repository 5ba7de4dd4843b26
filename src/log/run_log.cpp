#include "log/run_log.h"

#include <windows.h>

#include <string>

#include "log/log_format.h"
#include "platform/handles.h"
#include "platform/run_state.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

// Owner of the message boxes: "Information", one OK button.
constexpr wchar_t kInformationCaption[] = L"Information";

// Reported texts share the 255-character field of every other message.
constexpr std::size_t kMaxMessageLength = kMaxFieldLength;

// Opens `path` for one append: an existing file is opened as it is, a missing
// one is created. No sharing: the exclusive open is what keeps two writers
// (the main thread and the worker, or another process) from interleaving
// their bytes; the loser's entry goes to the error log instead.
UniqueFileHandle OpenForAppend(const std::wstring& path) noexcept {
    if (path.empty()) return UniqueFileHandle();
    const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    return UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_WRITE,
                                        0,  // no sharing: one writer at a time
                                        nullptr, exists ? OPEN_ALWAYS : CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

void AppendToLogUnchecked(std::wstring_view text) {
    UniqueFileHandle file = OpenForAppend(g_runState.logFilePath);
    if (!file) file = OpenForAppend(ErrorLogPath(g_runState.exeDirectory));
    if (!file) return;  // neither log can be opened: the entry is lost, the run goes on

    // Offset and OffsetHigh both 0xFFFFFFFF ask Windows to write at the
    // current end of the file, so an entry never lands on top of another
    // even if the file grew since it was opened. wchar_t is one UTF-16 unit
    // on Windows, so the characters are written as they are: UTF-16LE, no
    // byte-order mark, no terminator.
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    // The result is deliberately not examined: logging never stops a run.
    (void)WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                    &written, &atEnd);
}

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
        AppendToLogUnchecked(text);
    } catch (...) {
        // Only composing the error log's path allocates; without memory the
        // entry is dropped like any other that cannot be written.
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
        AppendToLog(CurrentTimestamp());
    } catch (...) {
        // No memory for the timestamp: the message still goes out.
    }
    AppendToLog(message);
}

void ReportMessage(std::wstring_view text, MessageSink sink) noexcept {
    // Messages are 254-character texts; a longer one is cut at that length
    // for the log and the screen alike, so both always say the same thing.
    const std::wstring_view shown = text.substr(0, kMaxMessageLength);
    AppendToLog(shown);
    AppendToLog(kLineEnd);
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
