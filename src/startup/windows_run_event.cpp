#include "startup/windows_run_event.h"

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/handles.h"
#include "platform/run_state.h"
#include "platform/windows_registry.h"
#include "platform/windows_security.h"
#include "removal/program_rights.h"
#include "ui/resource.h"

namespace clearon {
namespace {

// SYSTEM and the administrators may change the folder and what is in it;
// everybody may read it, since the event viewer and the event log service
// load the message file as whoever reads the log. A user who could replace
// the file would decide what every event of this source says.
constexpr wchar_t kMessageFolderSddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)";
constexpr std::wstring_view kPartialSuffix = L".new";
// The message file is a few kilobytes; a larger file there is not one
// Clearon wrote, and is replaced unread.
constexpr LONGLONG kLargestMessageFile = 1 << 20;

void LogEventProblem(std::wstring_view line) noexcept {
    // Asked for no log: a failure is still worth a line beside the executable.
    if (g_runState.loggingEnabled) {
        LogTimestamped(line);
    } else {
        AppendToErrorLog(line);
    }
}

void LogFileProblem(std::wstring_view why) {
    std::wstring line(kLogEventMessageFileNotWritten);
    line += why;
    line += kLineEnd;
    LogEventProblem(line);
}

[[nodiscard]] std::wstring ErrorText(std::wstring_view what, DWORD error) {
    std::wstring text(what);
    text += L" (error ";
    text += std::to_wstring(error);
    text += L')';
    return text;
}

// The message file as Clearon.exe carries it; empty when it cannot be found.
[[nodiscard]] std::span<const std::uint8_t> EmbeddedMessageFile() noexcept {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_EVENT_MESSAGES), RT_RCDATA);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(nullptr, found);  // part of the image: never freed
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data == nullptr) return {};
    return {static_cast<const std::uint8_t*>(data), SizeofResource(nullptr, found)};
}

// Creates `folder` with the permissions `sd` gives (null: inherited); a
// folder that is already there keeps the permissions it has, and is judged
// by them afterwards.
[[nodiscard]] bool CreateMessageFolder(const std::wstring& folder, PSECURITY_DESCRIPTOR sd) {
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), sd, FALSE};
    return CreateDirectoryW(folder.c_str(), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// The whole content of `path`, or nothing when it cannot be read (or is
// too large to be the message file).
[[nodiscard]] std::optional<std::vector<std::uint8_t>> FileBytes(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ,  // a reader may have it mapped
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestMessageFile) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
        return std::nullopt;
    }
    return bytes;
}

// Writes `bytes` beside `path` and moves them over it in one step, so that a
// reader never meets half a file. The new file takes the folder's
// inherited permissions. Empty on success, else the reason.
[[nodiscard]] std::wstring ReplaceFile(const std::wstring& path,
                                       std::span<const std::uint8_t> bytes) {
    const std::wstring partial = path + std::wstring(kPartialSuffix);
    // A run cut short may have left one; a fresh file takes fresh permissions.
    (void)DeleteFileW(partial.c_str());
    {
        const UniqueFileHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE,
                                                0,        // nobody reads it half written
                                                nullptr,  // the folder's inherited DACL
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return ErrorText(partial, GetLastError());
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) ||
            written != bytes.size() || !FlushFileBuffers(file.get())) {
            const DWORD error = GetLastError();
            (void)DeleteFileW(partial.c_str());
            return ErrorText(partial, error);
        }
    }
    if (!MoveFileExW(partial.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        (void)DeleteFileW(partial.c_str());
        return ErrorText(path, error);
    }
    return {};
}

// Puts the message file in its lasting folder when it is missing or
// differs. Returns its path when it is there as Clearon carries it;
// otherwise logs why and returns nothing.
[[nodiscard]] std::optional<std::wstring> PlaceMessageFile() {
    const std::span<const std::uint8_t> wanted = EmbeddedMessageFile();
    if (wanted.empty()) {
        LogFileProblem(ErrorText(L"Clearon.exe does not carry it", GetLastError()));
        return std::nullopt;
    }
    const std::wstring programFiles =
        ReadRegistryString(SystemRegistry(), RegistryRoot::LocalMachine, kWindowsCurrentVersionKey,
                           kProgramFilesDirValue);
    // A drive's folder, "X:\...": anything else is not the Program Files
    // folder Windows set up.
    if (programFiles.size() < 4 || programFiles[1] != L':' || programFiles[2] != L'\\') {
        LogFileProblem(L"the Program Files folder is not known");
        return std::nullopt;
    }
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kMessageFolderSddl, SDDL_REVISION_1,
                                                              &sd, nullptr)) {
        LogFileProblem(ErrorText(L"no security descriptor", GetLastError()));
        return std::nullopt;
    }
    const UniqueLocalMemory ownedSd(sd);
    // The company's folder takes Program Files' own permissions, as any of
    // its installers would make it; Clearon's folder gets its own.
    std::wstring company = programFiles;
    if (company.back() != L'\\') company += L'\\';
    company += kEventMessageCompanyFolder;
    std::wstring folder = company + L'\\';
    folder += kEventMessageProductFolder;
    for (const auto& [path, descriptor] :
         {std::pair{&company, PSECURITY_DESCRIPTOR{nullptr}}, std::pair{&folder, sd}}) {
        if (!CreateMessageFolder(*path, descriptor)) {
            LogFileProblem(ErrorText(*path, GetLastError()));
            return std::nullopt;
        }
    }

    // The folder, every folder above it and a file already there must be
    // the administrators' alone, whoever made them.
    WindowsSecurityReader reader;
    const TrustedWriters trusted{CurrentAccountSid(), {}};
    std::wstring path = folder + L'\\';
    path += kEventMessageFileName;
    const std::optional<std::vector<std::uint8_t>> present = FileBytes(path);
    const std::optional<RightsFinding> finding =
        present ? CheckProgramRights(path, reader, trusted, RightsRole::File)
                : CheckProgramRights(folder, reader, trusted, RightsRole::Folder);
    if (finding) {
        LogFileProblem(DescribeFinding(*finding));
        return std::nullopt;
    }
    if (present && std::equal(present->begin(), present->end(), wanted.begin(), wanted.end())) {
        return path;
    }
    if (std::wstring why = ReplaceFile(path, wanted); !why.empty()) {
        LogFileProblem(why);
        return std::nullopt;
    }
    return path;
}

void Report(const RunEventFacts& facts) {
    if (const std::optional<std::wstring> messageFile = PlaceMessageFile()) {
        if (!RegisterRunEventSource(SystemRegistry(), *messageFile)) {
            LogEventProblem(kLogEventSourceNotRegistered);
        }
    }
    const RunEvent event = BuildRunEvent(facts);
    const UniqueEventSource source(RegisterEventSourceW(nullptr,  // this computer
                                                        std::wstring(kEventSourceName).c_str()));
    const wchar_t* strings[] = {event.text.c_str()};
    if (!source || !ReportEventW(source.get(), static_cast<WORD>(event.type),
                                 0,  // no categories
                                 event.id,
                                 nullptr,  // no user: the account says nothing about the run
                                 1, 0, strings, nullptr)) {
        LogEventProblem(std::wstring(kLogRunEventNotReported) + std::to_wstring(GetLastError()) +
                        std::wstring(kLineEnd));
    }
}

}  // namespace

void ReportRunEvent(const RunEventFacts& facts) noexcept {
    try {
        Report(facts);
    } catch (...) {
        // Out of memory at the very end: the run's exit code stands.
        LogEventProblem(kLogRunEventUnexpectedError);
    }
}

}  // namespace clearon
