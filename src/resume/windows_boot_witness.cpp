#include "resume/windows_boot_witness.h"

#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <string>

#include "platform/handles.h"

namespace clearon {
namespace {

constexpr std::wstring_view kWitnessFolder = L"\\ClearonWitness";
constexpr std::wstring_view kWitnessPattern = L"\\*.tmp";
constexpr std::wstring_view kBootPathPrefix = L"\\??\\";
// Only SYSTEM and administrators, whatever the Windows folder grants: a user
// who could create a witness would fake "the boot did not run them", one who
// could delete it "the boot ran them".
constexpr wchar_t kWitnessFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr int kNameAttempts = 16;

std::atomic<unsigned> g_created{0};

// Empty when the Windows folder cannot be read.
std::wstring WitnessFolder() {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    std::wstring folder(windows, length);
    folder += kWitnessFolder;
    return folder;
}

bool CreateWitnessFolder(const std::wstring& folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kWitnessFolderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return false;
    }
    const UniqueLocalMemory owned(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
    // A folder already there was made by an earlier run: only administrators
    // can create one in the Windows folder.
    return CreateDirectoryW(folder.c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

std::optional<std::wstring> WindowsBootWitness::Create() {
    const std::wstring folder = WitnessFolder();
    if (folder.empty() || !CreateWitnessFolder(folder)) return std::nullopt;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // Appended piece by piece: GCC 12 warns wrongly about a chain of +.
        std::wstring path = folder;
        path += L'\\';
        path += std::to_wstring(GetCurrentProcessId());
        path += L'-';
        path += std::to_wstring(GetTickCount64());
        path += L'-';
        path += std::to_wstring(g_created++);
        path += L".tmp";
        const UniqueFileHandle file(CreateFileW(path.c_str(),
                                                GENERIC_WRITE,  // creating it is all it is for
                                                0,              // nobody else opens it meanwhile
                                                nullptr,        // the folder's permissions
                                                CREATE_NEW,     // a name never used before, or none
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) {
            // The boot must find it, a power loss notwithstanding.
            FlushFileBuffers(file.get());
            std::wstring bootPath(kBootPathPrefix);
            bootPath += path;
            return bootPath;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return std::nullopt;
    }
    return std::nullopt;
}

bool WindowsBootWitness::Exists(std::wstring_view path) {
    if (path.substr(0, kBootPathPrefix.size()) == kBootPathPrefix) {
        path.remove_prefix(kBootPathPrefix.size());
    }
    if (GetFileAttributesW(std::wstring(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void WindowsBootWitness::RemoveAll() {
    const std::wstring folder = WitnessFolder();
    if (folder.empty()) return;
    std::wstring pattern = folder;
    pattern += kWitnessPattern;
    WIN32_FIND_DATAW found{};
    {
        const UniqueFindHandle search(FindFirstFileW(pattern.c_str(), &found));
        if (search.valid()) {
            do {
                std::wstring file = folder;
                file += L'\\';
                file += found.cFileName;
                DeleteFileW(file.c_str());
            } while (FindNextFileW(search.get(), &found));
        }
    }
    // Nothing is left behind once no move needs a witness; a folder still
    // holding one stays.
    RemoveDirectoryW(folder.c_str());
}

BootWitness& SystemBootWitness() noexcept {
    static WindowsBootWitness witness;
    return witness;
}

}  // namespace clearon
