#include "removal/program_path.h"

#include <utility>

#include "log/log_texts.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

constexpr std::wstring_view kExeSuffix = L".exe";

[[nodiscard]] constexpr bool IsSeparator(wchar_t c) noexcept {
    return c == L'\\' || c == L'/';
}

[[nodiscard]] constexpr bool IsBlank(wchar_t c) noexcept {
    return c == L' ' || c == L'\t';
}

[[nodiscard]] bool IsAbsolute(std::wstring_view path) noexcept {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return true;
    return path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]);
}

[[nodiscard]] std::wstring TrimmedFolder(std::wstring_view folder) {
    while (!folder.empty() && IsBlank(folder.front())) folder.remove_prefix(1);
    while (!folder.empty() && IsBlank(folder.back())) folder.remove_suffix(1);
    if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"') {
        folder = folder.substr(1, folder.size() - 2);
    }
    // "C:\" keeps its backslash; any other folder loses its trailing one.
    while (folder.size() > 3 && IsSeparator(folder.back())) folder.remove_suffix(1);
    return std::wstring(folder);
}

// Is `folder` (already full and normal) `base` or below it?
[[nodiscard]] bool LiesBelow(std::wstring_view folder, std::wstring_view base) noexcept {
    if (base.empty() || folder.size() < base.size()) return false;
    if (!EqualsNoCase(folder.substr(0, base.size()), base)) return false;
    return folder.size() == base.size() || IsSeparator(folder[base.size()]) ||
           IsSeparator(base.back());
}

void AddOnce(std::vector<std::wstring>& folders, std::wstring folder) {
    if (folder.empty()) return;
    for (const std::wstring& known : folders) {
        if (EqualsNoCase(known, folder)) return;
    }
    folders.push_back(std::move(folder));
}

[[nodiscard]] bool HasExtension(std::wstring_view path) noexcept {
    const std::size_t separator = path.find_last_of(L"\\/:");
    const std::size_t dot = path.rfind(L'.');
    return dot != std::wstring_view::npos &&
           (separator == std::wstring_view::npos || dot > separator);
}

// The file Windows starts for a program path: ".exe" is added to a last name
// without an extension.
[[nodiscard]] std::wstring ProgramFile(std::wstring_view path) {
    std::wstring file(path);
    if (!HasExtension(path)) file.append(kExeSuffix);
    return file;
}

// Where the program path of a prepared command lies in it.
struct ProgramSpan {
    std::size_t begin = 0;  // the path's first character (after any quote)
    std::size_t end = 0;    // after its last
    bool quoted = false;
};

[[nodiscard]] ProgramSpan FindProgram(std::wstring_view command) noexcept {
    std::size_t at = 0;
    while (at < command.size() && IsBlank(command[at])) ++at;
    if (at < command.size() && command[at] == L'"') {
        const std::size_t close = command.find(L'"', at + 1);
        return {at + 1, close == std::wstring_view::npos ? command.size() : close, true};
    }
    std::size_t end = at;
    while (end < command.size() && !IsBlank(command[end])) ++end;
    return {at, end, false};
}

[[nodiscard]] PreparedCommand Refused(CommandVerdict verdict, std::wstring command,
                                      std::wstring reason = {}) {
    return {verdict, std::move(command), std::move(reason), {}};
}

}  // namespace

std::vector<std::wstring> ProgramSearchFolders(const ProgramFolders& folders, bool view32Bit) {
    const std::wstring system = TrimmedFolder(folders.systemDirectory);
    const std::wstring wow64 = TrimmedFolder(folders.wow64SystemDirectory);
    const std::wstring windows = TrimmedFolder(folders.windowsDirectory);
    // In the 32-bit view the 32-bit system folder stands in for System32,
    // below it too (System32\wbem becomes SysWOW64\wbem).
    const auto viewed = [&](std::wstring folder) {
        if (!view32Bit || wow64.empty() || !LiesBelow(folder, system)) return folder;
        return wow64 + folder.substr(system.size());
    };
    std::vector<std::wstring> result;
    AddOnce(result, TrimmedFolder(folders.exeDirectory));
    if (!system.empty()) AddOnce(result, viewed(system));
    AddOnce(result, windows);
    std::wstring_view rest = folders.pathVariable;
    while (!rest.empty() && !windows.empty()) {
        const std::size_t semicolon = rest.find(L';');
        const std::wstring folder = TrimmedFolder(rest.substr(0, semicolon));
        rest =
            semicolon == std::wstring_view::npos ? std::wstring_view() : rest.substr(semicolon + 1);
        if (!IsAbsolute(folder)) continue;
        // "C:\Windows\..\Users\Public" names no folder below Windows.
        if (!EqualsNoCase(FullProgramPath(folder, {}), folder)) continue;
        if (LiesBelow(folder, windows)) AddOnce(result, viewed(folder));
    }
    return result;
}

std::wstring FullProgramPath(std::wstring_view path, std::wstring_view currentDirectory) {
    std::wstring joined;
    if (IsAbsolute(path)) {
        joined.assign(path);
    } else if (!path.empty() && IsSeparator(path[0])) {
        joined.assign(currentDirectory.substr(0, 2));
        joined.append(path);
    } else {
        joined.assign(currentDirectory);
        if (!joined.empty() && !IsSeparator(joined.back())) joined.push_back(L'\\');
        joined.append(path);
    }
    // The root ("C:\" or "\\server\share\") stays; "." and ".." are applied
    // to the names after it, never climbing above it.
    std::size_t root = 0;
    if (joined.size() >= 2 && IsSeparator(joined[0]) && IsSeparator(joined[1])) {
        std::size_t at = joined.find_first_of(L"\\/", 2);
        if (at != std::wstring::npos) at = joined.find_first_of(L"\\/", at + 1);
        root = at == std::wstring::npos ? joined.size() : at + 1;
    } else if (joined.size() >= 3 && joined[1] == L':') {
        root = 3;
    }
    std::wstring result = joined.substr(0, root);
    std::vector<std::wstring_view> names;
    const std::wstring_view tail = std::wstring_view(joined).substr(root);
    std::size_t start = 0;
    while (start <= tail.size()) {
        std::size_t end = tail.find_first_of(L"\\/", start);
        if (end == std::wstring_view::npos) end = tail.size();
        const std::wstring_view name = tail.substr(start, end - start);
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i != 0) result.push_back(L'\\');
        result.append(names[i]);
    }
    return result;
}

PreparedCommand CheckLaunch(PreparedCommand prepared, bool view32Bit, const LaunchChecks& checks,
                            const FileExistsFn& fileExists) {
    if (prepared.verdict != CommandVerdict::Launch) return prepared;
    std::wstring& command = prepared.commandLine;
    const ProgramSpan span = FindProgram(command);
    if (span.begin >= span.end) return prepared;
    const std::wstring_view program =
        std::wstring_view(command).substr(span.begin, span.end - span.begin);

    std::wstring file;
    if (program.find_first_of(L"\\/:") == std::wstring_view::npos) {
        const std::wstring name = ProgramFile(program);
        for (const std::wstring& folder : ProgramSearchFolders(checks.folders, view32Bit)) {
            std::wstring candidate = folder;
            if (!IsSeparator(candidate.back())) candidate.push_back(L'\\');
            candidate.append(name);
            if (fileExists(candidate)) {
                file = std::move(candidate);
                break;
            }
        }
        if (file.empty()) return Refused(CommandVerdict::NotInSafeFolders, std::move(command));
        const bool quote = !span.quoted && file.find_first_of(L" \t") != std::wstring::npos;
        std::wstring launched = command.substr(0, span.begin);
        if (quote) launched.push_back(L'"');
        launched.append(file);
        if (quote) launched.push_back(L'"');
        launched.append(std::wstring_view(command).substr(span.end));
        // The full path may not fit where the bare name did: refused, never cut.
        if (launched.size() > kMaxCommandLength) return {CommandVerdict::TooLong, {}, {}, {}};
        prepared.lookedUp.assign(program);
        command = std::move(launched);
    } else {
        file = FullProgramPath(ProgramFile(program), checks.currentDirectory);
    }

    if (checks.rights == nullptr) return prepared;
    std::optional<RightsFinding> finding;
    if (fileExists(file)) {
        finding = CheckProgramRights(file, *checks.rights, checks.trusted);
    } else {
        // The nearest folder that exists is where the program could appear.
        std::optional<std::wstring> folder = ParentFolder(file);
        while (folder && !checks.rights->Read(*folder)) folder = ParentFolder(*folder);
        if (folder) {
            finding =
                CheckProgramRights(*folder, *checks.rights, checks.trusted, RightsRole::Folder);
        }
    }
    if (finding) {
        return Refused(CommandVerdict::UserWritable, std::move(command), DescribeFinding(*finding));
    }
    return prepared;
}

std::wstring LookedUpMessage(const PreparedCommand& prepared) {
    if (prepared.lookedUp.empty()) return {};
    std::wstring message(kLogProgramLookedUp);
    message.append(VisibleText(prepared.lookedUp));
    message.append(L"\r\n");
    return message;
}

std::wstring LaunchRefusalMessage(const PreparedCommand& prepared) {
    std::wstring message;
    if (prepared.verdict == CommandVerdict::UserWritable) {
        message.assign(kLogProgramUserWritable);
        message.append(VisibleText(prepared.reason));
        message.append(kLogProgramUserWritableEnd);
    } else {
        message.assign(kLogProgramNotInSafeFolders);
    }
    message.append(VisibleText(prepared.commandLine));
    message.append(L"\r\n");
    return message;
}

}  // namespace clearon
