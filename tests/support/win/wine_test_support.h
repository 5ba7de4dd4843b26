// Helpers for the tests that run under Wine: scratch folders, running the
// real Clearon.exe as a deployment system would, reading its UTF-16 logs,
// and answering the windows it shows as a person would.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace clearon::test {

// What the build made, as copies in C:\\t of the Wine prefix (made once per
// test process), so that no path that ends up in a registry value or a
// command line grows with the folder the repository is cloned in.
std::wstring ClearonExePath();
std::wstring BuiltProgramPath(const std::wstring& fileName);  // beside Clearon.exe
std::wstring TestProgramPath(
    const std::wstring& fileName);                      // tests' helper programs and installers
std::wstring SourcePath(const std::wstring& relative);  // a file of the source tree

// A fresh folder under the Wine prefix's temp folder, removed on destruction.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    [[nodiscard]] const std::wstring& path() const { return path_; }
    [[nodiscard]] std::wstring operator/(const std::wstring& name) const {
        return path_ + L"\\" + name;
    }

private:
    std::wstring path_;
};

// File helpers (Windows paths).
void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes);
void WriteAnsi(const std::wstring& path, const std::string& text);
void WriteUtf16(const std::wstring& path, const std::wstring& text, bool withBom);
std::vector<std::uint8_t> ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
void CopyFileOrFail(const std::wstring& from, const std::wstring& to);
// The log's UTF-16LE bytes as text; empty when the file is missing.
std::wstring ReadUtf16File(const std::wstring& path);
std::wstring ComputerName();

// The lines of a text, CR LF between them (a last line without one is kept).
std::vector<std::wstring> TextLines(const std::wstring& text);
// A run-log line's leading "MM/DD/YYYY hh:mm:ss:mmm" as local time in 100 ns
// units; nothing when the line does not start with one.
std::optional<ULONGLONG> TimestampOf(const std::wstring& line);
// What follows a run-log line's timestamp (its leading blank included);
// nothing when the line has no timestamp.
std::optional<std::wstring> MessageOf(const std::wstring& line);

// Runs a program and waits for it (bounded); returns its exit code, or
// nothing when it did not end in time (it is then terminated).
struct ProcessResult {
    std::optional<DWORD> exitCode;
    std::string standardOutput;  // what the program wrote to its stdout
};
ProcessResult RunAndWait(const std::wstring& commandLine, const std::wstring& currentDirectory,
                         std::chrono::milliseconds limit);

// Copies Clearon.exe into `dir` (beside its Clearon.ini) and runs it there
// with `arguments`; the run is bounded by `limit`.
ProcessResult RunClearon(const ScratchDir& dir, const std::wstring& arguments,
                         std::chrono::milliseconds limit = std::chrono::seconds(120));

// A program started without waiting for it, for tests that drive its windows
// while it runs. If the test has not seen it end, the destructor terminates
// it (bounded), so a failed test never leaves it running.
class RunningProgram {
public:
    RunningProgram() = default;
    // `desktop` ("station\\desktop") starts it on another desktop than ours.
    RunningProgram(const std::wstring& commandLine, const std::wstring& currentDirectory,
                   const std::wstring& desktop = L"");
    ~RunningProgram();
    RunningProgram(RunningProgram&&) = default;
    RunningProgram& operator=(RunningProgram&&) = default;
    [[nodiscard]] bool started() const { return process_.valid(); }
    [[nodiscard]] HANDLE process() const { return process_.get(); }
    // The exit code once it has ended within `limit`, else nothing (it keeps running).
    [[nodiscard]] std::optional<DWORD> WaitForExit(std::chrono::milliseconds limit);

private:
    UniqueKernelHandle process_;
};

// Copies Clearon.exe into `dir` (beside its Clearon.ini) and starts it there
// with `arguments`, without waiting: for dialog runs driven by the test.
RunningProgram StartClearon(const ScratchDir& dir, const std::wstring& arguments = L"",
                            const std::wstring& desktop = L"");

// A desktop on a window station of its own, which is not visible: what a
// program started by a service (or by a deployment agent as SYSTEM) gets.
// Made once per test program; returns its "station\\Default" name, or the
// empty text after reporting a failure.
std::wstring InvisibleDesktop();

// A top-level window by its caption, (optionally) of the dialog class
// #32770, waiting up to `limit` for it to appear.
HWND WaitForWindow(const std::wstring& caption, std::chrono::milliseconds limit,
                   bool dialogClassOnly = true);
// The texts of the static controls of a dialog, in child order.
std::vector<std::wstring> StaticTexts(HWND dialog);
// Presses the button with `id` as a person would (BM_CLICK).
void PressButton(HWND dialog, int id);
// Presses the button whose text is `text` ("&Yes", "OK", ...; the ampersand
// is ignored when comparing).
bool PressButtonByText(HWND dialog, const std::wstring& text);

// Answers every message box of `caption` that appears while it lives, on a
// thread of its own, with the button `buttonText`; records the texts it saw.
class BoxAnswerer {
public:
    BoxAnswerer(std::wstring caption, std::function<std::wstring(const std::wstring& text)> choose);
    ~BoxAnswerer();
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;
    [[nodiscard]] std::vector<std::wstring> Seen() const;

private:
    struct State;
    State* state_;
};

// Registry helpers for tests; every test owns and wipes the keys it uses.
void DeleteTree(HKEY root, const std::wstring& key);
void SetString(HKEY root, const std::wstring& key, const std::wstring& value,
               const std::wstring& data, DWORD type = REG_SZ);
std::optional<std::wstring> GetString(HKEY root, const std::wstring& key,
                                      const std::wstring& value);
bool KeyExists(HKEY root, const std::wstring& key);

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& value);
void CreateKey(HKEY root,
               const std::wstring& key);  // with its parents; fails the test if it cannot

std::string Narrow(const std::wstring& text);  // for test messages only

// Polls `done` until it holds or `limit` has passed; whether it held. Wait
// for the change an action makes, never for a state that held before it.
template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(10);
    }
    return true;
}

}  // namespace clearon::test
