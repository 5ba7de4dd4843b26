// Shared by the start-up tests under Wine: running the real Clearon.exe with
// its message boxes answered, and reading the logs it leaves.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handles.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {

inline constexpr std::wstring_view kInformationCaption = L"Information";
inline constexpr std::wstring_view kErrorLogName = L"Clearon_Err.log";

struct ClearonRun {
    ProcessResult process;
    std::vector<std::wstring> boxes;  // texts of the "Information" boxes, in order
};

// Runs Clearon.exe in `dir` and presses OK on every "Information" box it
// shows, as the person at the screen would; bounded by one minute.
inline ClearonRun RunAnsweringBoxes(const ScratchDir& dir, const std::wstring& arguments = L"") {
    BoxAnswerer answerer(std::wstring(kInformationCaption),
                         [](const std::wstring&) { return L"OK"; });
    ClearonRun run;
    run.process = RunClearon(dir, arguments, std::chrono::seconds(60));
    run.boxes = answerer.Seen();
    return run;
}

inline std::wstring RunLogName() {
    return L"Clearon." + ComputerName() + L".log";
}

// What a text must look like on disk: UTF-16LE, no byte-order mark.
inline std::vector<std::uint8_t> Utf16LeBytes(std::wstring_view text) {
    std::vector<std::uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

// "MM/DD/YYYY hh:mm:ss:mmm"
inline bool IsTimestamp(std::wstring_view text) {
    constexpr std::wstring_view shape = L"00/00/0000 00:00:00:000";
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == L'0' ? (text[i] < L'0' || text[i] > L'9') : text[i] != shape[i])
            return false;
    }
    return true;
}

// A log's lines without their "\r\n"; a text that does not end with a line
// end gives its unterminated rest as a last line, so no byte goes unchecked.
inline std::vector<std::wstring> LogLines(std::wstring_view text) {
    std::vector<std::wstring> lines;
    while (!text.empty()) {
        const std::size_t end = text.find(L"\r\n");
        if (end == std::wstring_view::npos) {
            lines.emplace_back(text);
            break;
        }
        lines.emplace_back(text.substr(0, end));
        text.remove_prefix(end + 2);
    }
    return lines;
}

// A timestamped line: the 23-character timestamp, then `message`.
inline bool IsTimestamped(std::wstring_view line, std::wstring_view message) {
    return line.size() == 23 + message.size() && IsTimestamp(line.substr(0, 23)) &&
           line.substr(23) == message;
}

// One run's entries from `first` on: the computer-name line, the start line,
// the run's own lines, the stop line. Returns the index after the stop line,
// or lines.size() after reporting what is wrong.
inline std::size_t ExpectRunFrame(const std::vector<std::wstring>& lines, std::size_t first) {
    if (lines.size() < first + 3) {
        ADD_FAILURE() << "a run needs at least 3 lines from line " << first << ", the log has "
                      << lines.size();
        return lines.size();
    }
    EXPECT_EQ(lines[first], L"Computer Name: " + ComputerName());
    EXPECT_TRUE(IsTimestamped(lines[first + 1], L" Clearon starting!")) << Narrow(lines[first + 1]);
    for (std::size_t i = first + 2; i < lines.size(); ++i) {
        if (lines[i].starts_with(L"Computer Name: ") ||
            IsTimestamped(lines[i], L" Clearon starting!")) {
            break;
        }
        if (IsTimestamped(lines[i], L" Clearon stopping!")) return i + 1;
    }
    ADD_FAILURE() << "no stop line for the run that starts at line " << first;
    return lines.size();
}

// A log that holds exactly one run.
inline void ExpectOneRun(const std::vector<std::wstring>& lines) {
    EXPECT_EQ(ExpectRunFrame(lines, 0), lines.size()) << "more than one run in the log";
}

// The Linux path of a Windows path, through Wine's own export.
inline std::string UnixPathOf(const std::wstring& windowsPath) {
    using Convert = char*(CDECL*)(LPCWSTR);
    const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) return {};
    char* path = convert(windowsPath.c_str());
    if (path == nullptr) return {};
    std::string result(path);
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

// Wine starts Linux programs through CreateProcessW; tests use it for what
// only Linux can set up (a symbolic link into /sys). Wine hands back no
// process handle to wait on for a Linux child, so the caller waits (bounded)
// for what the command makes.
inline bool StartLinuxCommand(const std::string& commandLine) {
    std::wstring line(commandLine.begin(), commandLine.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    UniqueProcessInformation process;
    process.Adopt(info);
    return true;
}

// Waits up to `limit` for `path` to exist.
inline bool WaitForFile(const std::wstring& path, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!FileExists(path)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(20);
    }
    return true;
}

}  // namespace clearon::test
