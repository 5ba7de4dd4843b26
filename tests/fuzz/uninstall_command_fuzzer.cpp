// Feeds arbitrary uninstall commands, as the registry may hold anything a
// local user or a hostile installer wrote there, through the completion and
// preparation a real run gives them, over a made-up disk where any path may
// exist. The promise checked besides the sanitizers': the command is either
// refused with a reason, or the program Windows would run for it holds a
// blank only when its path is quoted. Windows' own search is played out:
// unquoted, it tries every prefix ending at a blank, shortest first.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "log/log_texts.h"
#include "removal/command_line.h"
#include "removal/program_path.h"
#include "removal/uninstall_command.h"

namespace {

using namespace clearon;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Windows' rule: ".exe" is added when the last name has no extension.
bool WindowsRuns(std::wstring_view path, const FileExistsFn& exists) {
    const std::size_t separator = path.find_last_of(L"\\/:");
    const std::size_t dot = path.rfind(L'.');
    if (dot != std::wstring_view::npos && (separator == std::wstring_view::npos || dot > separator))
        return exists(path);
    return exists(std::wstring(path) + L".exe");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t flags = data[0];
    const std::uint8_t seed = data[1];
    std::wstring stored;
    for (std::size_t i = 2; i + 1 < size; i += 2) {
        stored.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }

    // About a quarter of all paths exist; a name with a double quote never
    // does, since Windows allows none in a file name.
    const FileExistsFn exists = [seed](std::wstring_view path) {
        if (path.empty() || path.find(L'"') != std::wstring_view::npos) return false;
        return ((std::hash<std::wstring_view>{}(path) ^ seed) & 3) == 0;
    };

    Settings settings;
    settings.SilentMSIInstaller = (flags & 1) != 0;
    if ((flags & 2) != 0) settings.DefaultExtraParameters = L"/quiet C:\\Log Files\\x.exe";
    const std::wstring command = CompleteUninstallCommand(stored, settings);
    const PreparedCommand prepared = PrepareCommandLine(
        command, (flags & 4) != 0, L"C:\\Windows\\system32", L"C:\\Windows\\SysWOW64", exists);

    switch (prepared.verdict) {
        case CommandVerdict::TooLong:
            Require(CommandTooLongMessage(command).starts_with(kLogCommandTooLong));
            return 0;
        case CommandVerdict::Unresolved: {
            const std::wstring message = ProgramNotFoundMessage(prepared.commandLine);
            Require(message.starts_with(kLogProgramNotFound));
            // One log line: no line end but the last.
            Require(message.find_first_of(L"\r\n") == message.size() - 2);
            return 0;
        }
        case CommandVerdict::NotInSafeFolders:
        case CommandVerdict::UserWritable:
            Require(false);  // only CheckLaunch answers these
            return 0;
        case CommandVerdict::Launch:
            break;
    }

    // A bare program name is looked up; whatever it becomes fits the
    // command line or is refused, and names no folder only when refused.
    const LaunchChecks checks{
        {L"C:\\Deploy Kit", L"C:\\Windows\\system32", L"C:\\Windows\\SysWOW64", L"C:\\Windows",
         L"C:\\Windows\\system32;C:\\Users\\Public"},
        L"C:\\Deploy Kit",
        nullptr,
        {}};
    const PreparedCommand checked = CheckLaunch(prepared, (flags & 4) != 0, checks, exists);
    Require(checked.verdict != CommandVerdict::UserWritable &&
            checked.verdict != CommandVerdict::Unresolved);
    if (checked.verdict == CommandVerdict::Launch && checked.lookedUp.empty()) {
        Require(checked.commandLine == prepared.commandLine);
    } else if (checked.verdict == CommandVerdict::Launch) {
        Require(checked.commandLine.size() <= kMaxCommandLength);
        Require(checked.commandLine != prepared.commandLine);
    }

    const std::wstring& launched = prepared.commandLine;
    Require(launched.size() <= kMaxCommandLength + 2);
    std::size_t start = 0;
    while (start < launched.size() && IsBlank(launched[start])) ++start;
    if (start < launched.size() && launched[start] == L'"') {
        // Quoted: Windows takes the program from within the quotes (or, for a
        // stored quote never closed, the whole rest) and guesses nothing. A
        // quote Clearon added always has its closing one.
        const std::size_t first = command.find_first_not_of(L" \t");
        const bool storedQuote = first != std::wstring::npos && command[first] == L'"';
        Require(storedQuote || launched.find(L'"', start + 1) != std::wstring::npos);
        return 0;
    }
    // Unquoted: the first prefix Windows would run must hold no blank.
    for (std::size_t end = start; end <= launched.size(); ++end) {
        if (end < launched.size() && !IsBlank(launched[end])) continue;
        if (end == start || IsBlank(launched[end - 1])) continue;
        const std::wstring_view candidate = std::wstring_view(launched).substr(start, end - start);
        if (!WindowsRuns(candidate, exists)) continue;
        for (wchar_t c : candidate) Require(!IsBlank(c));
        break;
    }
    return 0;
}
