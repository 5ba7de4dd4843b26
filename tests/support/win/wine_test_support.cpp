#include "support/win/wine_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "platform/handles.h"

namespace clearon::test {
namespace {

// A Linux path baked in by the build, as Wine sees it (drive Z:).
std::wstring FromUnixPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* p = unixPath; *p != '\0'; ++p) {
        path.push_back(*p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    return path;
}

std::wstring WindowText(HWND window) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(window, buffer, 1023);
    return buffer;
}

std::wstring WithoutAmpersands(std::wstring text) {
    std::erase(text, L'&');
    return text;
}

// The short folder of the Wine prefix that holds copies of what the build
// made: the paths that tests put into registry values and command lines stay
// the same length wherever the repository is cloned.
constexpr wchar_t kShortFolder[] = L"C:\\t";

// `built` copied into the short folder as `fileName`, once per test process
// (so a rebuilt file replaces an older copy); the copy's path.
std::wstring ShortCopy(const std::wstring& built, const std::wstring& fileName) {
    static std::mutex mutex;
    static std::vector<std::wstring> copied;
    const std::wstring copy = std::wstring(kShortFolder) + L"\\" + fileName;
    std::lock_guard lock(mutex);
    if (std::find(copied.begin(), copied.end(), fileName) == copied.end()) {
        CreateDirectoryW(kShortFolder, nullptr);
        if (!CopyFileW(built.c_str(), copy.c_str(), FALSE)) {
            ADD_FAILURE() << "copy " << Narrow(built) << " -> " << Narrow(copy)
                          << " failed: " << GetLastError();
        }
        copied.push_back(fileName);
    }
    return copy;
}

}  // namespace

std::wstring ClearonExePath() {
    return BuiltProgramPath(L"Clearon.exe");
}

std::wstring BuiltProgramPath(const std::wstring& fileName) {
    return ShortCopy(FromUnixPath(CLEARON_BUILD_DIR) + L"\\" + fileName, fileName);
}

std::wstring TestProgramPath(const std::wstring& fileName) {
    return ShortCopy(FromUnixPath(CLEARON_TEST_PROGRAMS_DIR) + L"\\" + fileName, fileName);
}

std::wstring SourcePath(const std::wstring& relative) {
    std::wstring path = FromUnixPath(CLEARON_SOURCE_DIR) + L"\\" + relative;
    for (auto& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

ScratchDir::ScratchDir(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + L"clearon-test-" + name + L"-" +
            std::to_wstring(GetCurrentProcessId());
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid()) << "cannot create " << Narrow(path);
    DWORD written = 0;
    if (!bytes.empty()) {
        ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr));
    }
}

void WriteAnsi(const std::wstring& path, const std::string& text) {
    WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void WriteUtf16(const std::wstring& path, const std::wstring& text, bool withBom) {
    std::vector<std::uint8_t> bytes;
    if (withBom) {
        bytes.push_back(0xFF);
        bytes.push_back(0xFE);
    }
    for (wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    WriteBytes(path, bytes);
}

std::vector<std::uint8_t> ReadBytes(const std::wstring& path) {
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return {};
    std::vector<std::uint8_t> bytes(GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!bytes.empty() &&
        !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        return {};
    }
    bytes.resize(read);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CopyFileOrFail(const std::wstring& from, const std::wstring& to) {
    ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE))
        << "copy " << Narrow(from) << " -> " << Narrow(to) << " failed: " << GetLastError();
}

std::wstring ReadUtf16File(const std::wstring& path) {
    const auto bytes = ReadBytes(path);
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
}

std::vector<std::wstring> TextLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find(L"\r\n", start); end != std::wstring::npos;
         end = text.find(L"\r\n", start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::optional<ULONGLONG> TimestampOf(const std::wstring& line) {
    constexpr std::size_t kStampLength = 23;  // "MM/DD/YYYY hh:mm:ss:mmm"
    if (line.size() < kStampLength || line[2] != L'/' || line[5] != L'/' || line[10] != L' ' ||
        line[13] != L':' || line[16] != L':' || line[19] != L':') {
        return std::nullopt;
    }
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0, ms = 0;
    if (swscanf(line.substr(0, kStampLength).c_str(), L"%2d/%2d/%4d %2d:%2d:%2d:%3d", &month, &day,
                &year, &hour, &minute, &second, &ms) != 7) {
        return std::nullopt;
    }
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    time.wMilliseconds = static_cast<WORD>(ms);
    FILETIME file{};
    if (!SystemTimeToFileTime(&time, &file)) return std::nullopt;
    return (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
}

std::optional<std::wstring> MessageOf(const std::wstring& line) {
    if (!TimestampOf(line)) return std::nullopt;
    return line.substr(23);
}

std::wstring ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(name, &size);
    return name;
}

ProcessResult RunAndWait(const std::wstring& commandLine, const std::wstring& currentDirectory,
                         std::chrono::milliseconds limit) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    UniqueKernelHandle reader(readEnd);
    UniqueKernelHandle writer(writeEnd);
    SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = writer.get();
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                        &info)) {
        ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": " << GetLastError();
        return result;
    }
    UniqueProcessInformation process;
    process.Adopt(info);
    writer.reset();  // our copy: the pipe ends when the child's copies close

    // Read the pipe without blocking, so that grandchildren that keep it open
    // can never hang a test.
    std::string output;
    auto drainAvailable = [&] {
        DWORD available = 0;
        while (PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr) &&
               available > 0) {
            char buffer[4096];
            DWORD got = 0;
            const DWORD want = available < sizeof(buffer) ? available : sizeof(buffer);
            if (!ReadFile(reader.get(), buffer, want, &got, nullptr) || got == 0) return;
            output.append(buffer, got);
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        drainAvailable();
        ended = WaitForSingleObject(process.process.get(), 20) == WAIT_OBJECT_0;
    }
    if (ended) {
        DWORD code = 0;
        GetExitCodeProcess(process.process.get(), &code);
        result.exitCode = code;
    } else {
        TerminateProcess(process.process.get(), 9999);
        WaitForSingleObject(process.process.get(), 5000);
    }
    drainAvailable();
    result.standardOutput = output;
    return result;
}

ProcessResult RunClearon(const ScratchDir& dir, const std::wstring& arguments,
                         std::chrono::milliseconds limit) {
    const std::wstring exe = dir / L"Clearon.exe";
    if (!FileExists(exe)) CopyFileOrFail(ClearonExePath(), exe);
    std::wstring line = L"\"" + exe + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    return RunAndWait(line, dir.path(), limit);
}

RunningProgram::RunningProgram(const std::wstring& commandLine,
                               const std::wstring& currentDirectory, const std::wstring& desktop) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring desktopName = desktop;
    if (!desktopName.empty()) startup.lpDesktop = desktopName.data();
    PROCESS_INFORMATION info{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr,
                        FALSE,  // the test's own handles are none of its business
                        0, nullptr, currentDirectory.empty() ? nullptr : currentDirectory.c_str(),
                        &startup, &info)) {
        ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": " << GetLastError();
        return;
    }
    UniqueProcessInformation started;
    started.Adopt(info);
    process_ = std::move(started.process);
}

RunningProgram::~RunningProgram() {
    if (!process_.valid()) return;
    if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_.get(), 9999);
        WaitForSingleObject(process_.get(), 5000);
    }
}

std::optional<DWORD> RunningProgram::WaitForExit(std::chrono::milliseconds limit) {
    if (!process_.valid() ||
        WaitForSingleObject(process_.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    return code;
}

RunningProgram StartClearon(const ScratchDir& dir, const std::wstring& arguments,
                            const std::wstring& desktop) {
    const std::wstring exe = dir / L"Clearon.exe";
    if (!FileExists(exe)) CopyFileOrFail(ClearonExePath(), exe);
    std::wstring line = L"\"" + exe + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    return RunningProgram(line, dir.path(), desktop);
}

std::wstring InvisibleDesktop() {
    static const std::wstring name = [] {
        constexpr wchar_t kStation[] = L"ClearonUnseen";
        // A session that is still starting may refuse the station for a
        // moment; bounded retries.
        HWINSTA station = nullptr;
        for (int attempt = 0; attempt < 100 && station == nullptr; ++attempt) {
            station = CreateWindowStationW(kStation, 0, WINSTA_ALL_ACCESS, nullptr);
            if (station == nullptr) Sleep(50);
        }
        if (station == nullptr) {
            ADD_FAILURE() << "CreateWindowStationW: " << GetLastError();
            return std::wstring();
        }
        // Desktops are made on the caller's station: switch there for the
        // call, then back. Both handles stay open for the life of the test
        // program, so the station and desktop stay too.
        const HWINSTA own = GetProcessWindowStation();
        HDESK desktop = nullptr;
        if (SetProcessWindowStation(station)) {
            desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
            SetProcessWindowStation(own);
        }
        if (desktop == nullptr) {
            ADD_FAILURE() << "CreateDesktopW: " << GetLastError();
            return std::wstring();
        }
        return std::wstring(kStation) + L"\\Default";
    }();
    return name;
}

HWND WaitForWindow(const std::wstring& caption, std::chrono::milliseconds limit,
                   bool dialogClassOnly) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        HWND found = nullptr;
        HWND candidate = nullptr;
        while ((candidate = FindWindowExW(nullptr, candidate, dialogClassOnly ? L"#32770" : nullptr,
                                          caption.c_str())) != nullptr) {
            if (IsWindowVisible(candidate)) {
                found = candidate;
                break;
            }
        }
        if (found != nullptr) return found;
        if (std::chrono::steady_clock::now() >= deadline) return nullptr;
        Sleep(25);
    }
}

std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[64] = {};
        GetClassNameW(child, className, 63);
        if (_wcsicmp(className, L"Static") == 0) texts.push_back(WindowText(child));
    }
    return texts;
}

void PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    ASSERT_NE(button, nullptr) << "no control " << id;
    PostMessageW(button, BM_CLICK, 0, 0);
}

bool PressButtonByText(HWND dialog, const std::wstring& text) {
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[64] = {};
        GetClassNameW(child, className, 63);
        if (_wcsicmp(className, L"Button") == 0 &&
            _wcsicmp(WithoutAmpersands(WindowText(child)).c_str(),
                     WithoutAmpersands(text).c_str()) == 0) {
            PostMessageW(child, BM_CLICK, 0, 0);
            return true;
        }
    }
    return false;
}

struct BoxAnswerer::State {
    std::wstring caption;
    std::function<std::wstring(const std::wstring&)> choose;
    std::atomic<bool> stop{false};
    mutable std::mutex mutex;
    std::vector<std::wstring> seen;
    std::vector<HWND> answered;
    std::thread thread;
};

BoxAnswerer::BoxAnswerer(std::wstring caption,
                         std::function<std::wstring(const std::wstring& text)> choose)
    : state_(new State) {
    state_->caption = std::move(caption);
    state_->choose = std::move(choose);
    state_->thread = std::thread([s = state_] {
        while (!s->stop) {
            HWND box = WaitForWindow(s->caption, std::chrono::milliseconds(50));
            if (box == nullptr) continue;
            {
                std::lock_guard lock(s->mutex);
                if (std::find(s->answered.begin(), s->answered.end(), box) != s->answered.end()) {
                    // Already pressed; give the owner time to close it.
                    Sleep(20);
                    if (!IsWindow(box)) std::erase(s->answered, box);
                    continue;
                }
            }
            std::wstring text;
            for (const auto& t : StaticTexts(box)) {
                if (!t.empty()) text += (text.empty() ? L"" : L"\n") + t;
            }
            const std::wstring button = s->choose(text);
            if (PressButtonByText(box, button)) {
                std::lock_guard lock(s->mutex);
                s->seen.push_back(text);
                s->answered.push_back(box);
            }
        }
    });
}

BoxAnswerer::~BoxAnswerer() {
    state_->stop = true;
    state_->thread.join();
    delete state_;
}

std::vector<std::wstring> BoxAnswerer::Seen() const {
    std::lock_guard lock(state_->mutex);
    return state_->seen;
}

void DeleteTree(HKEY root, const std::wstring& key) {
    RegDeleteTreeW(root, key.c_str());
    RegDeleteKeyW(root, key.c_str());
}

void SetString(HKEY root, const std::wstring& key, const std::wstring& value,
               const std::wstring& data, DWORD type) {
    UniqueKey handle;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              handle.put(), nullptr),
              ERROR_SUCCESS)
        << Narrow(key);
    ASSERT_EQ(RegSetValueExW(handle.get(), value.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

std::optional<std::wstring> GetString(HKEY root, const std::wstring& key,
                                      const std::wstring& value) {
    UniqueKey handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, handle.put()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    DWORD type = 0;
    if (RegQueryValueExW(handle.get(), value.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(handle.get(), value.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    data.resize(size / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0') data.pop_back();
    return data;
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& value) {
    UniqueKey handle;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_SET_VALUE, handle.put()) == ERROR_SUCCESS) {
        RegDeleteValueW(handle.get(), value.c_str());
    }
}

void CreateKey(HKEY root, const std::wstring& key) {
    UniqueKey handle;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              handle.put(), nullptr),
              ERROR_SUCCESS)
        << Narrow(key);
}

bool KeyExists(HKEY root, const std::wstring& key) {
    UniqueKey handle;
    return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, handle.put()) == ERROR_SUCCESS;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace clearon::test
