#include "removal/command_line.h"

#include <cstdint>

#include "text/wide_string.h"

namespace clearon {
namespace {

constexpr std::wstring_view kExeSuffix = L".exe";

[[nodiscard]] constexpr bool IsBlank(wchar_t c) noexcept {
    return c == L' ' || c == L'\t';
}

[[nodiscard]] bool HasBlank(std::wstring_view text) noexcept {
    for (wchar_t c : text) {
        if (IsBlank(c)) return true;
    }
    return false;
}

[[nodiscard]] std::wstring Quoted(std::wstring_view lead, std::wstring_view path,
                                  std::wstring_view rest) {
    std::wstring result;
    result.reserve(lead.size() + path.size() + rest.size() + 2);
    result.append(lead);
    result.push_back(L'"');
    result.append(path);
    result.push_back(L'"');
    result.append(rest);
    return result;
}

// Rule 2: the path up to the first ".exe" that ends a token, when it holds a
// blank. A double quote inside it means the ".exe" belongs to an argument.
[[nodiscard]] std::size_t ExePathEnd(std::wstring_view command) noexcept {
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = FindNoCase(command, kExeSuffix, from);
        if (at == std::wstring_view::npos) return std::wstring_view::npos;
        const std::size_t end = at + kExeSuffix.size();
        if (end == command.size() || IsBlank(command[end])) return end;
        from = at + 1;
    }
}

[[nodiscard]] bool NamesFile(std::wstring_view candidate, const FileExistsFn& fileExists) {
    if (candidate.find(L'"') != std::wstring_view::npos) return false;
    if (fileExists(candidate)) return true;
    std::wstring withSuffix(candidate);
    withSuffix.append(kExeSuffix);
    return fileExists(withSuffix);
}

}  // namespace

std::wstring QuoteProgramPath(std::wstring_view commandLine, const FileExistsFn& fileExists) {
    std::size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
    const std::wstring_view lead = commandLine.substr(0, start);
    const std::wstring_view command = commandLine.substr(start);
    if (command.empty() || command.front() == L'"') return std::wstring(commandLine);

    const std::size_t exeEnd = ExePathEnd(command);
    if (exeEnd != std::wstring_view::npos) {
        const std::wstring_view path = command.substr(0, exeEnd);
        if (HasBlank(path) && path.find(L'"') == std::wstring_view::npos) {
            return Quoted(lead, path, command.substr(exeEnd));
        }
    }

    std::size_t firstTokenEnd = 0;
    while (firstTokenEnd < command.size() && !IsBlank(command[firstTokenEnd])) ++firstTokenEnd;
    if (fileExists(command.substr(0, firstTokenEnd))) return std::wstring(commandLine);

    // Candidates end where a token ends, longest first, down to the first
    // token: the order in which a reader would resolve the ambiguity, and
    // the reverse of the order in which CreateProcessW tries them.
    std::size_t end = command.size();
    while (end >= firstTokenEnd && end > 0) {
        if (!IsBlank(command[end - 1]) && (end == command.size() || IsBlank(command[end]))) {
            const std::wstring_view candidate = command.substr(0, end);
            if (NamesFile(candidate, fileExists)) {
                if (!HasBlank(candidate)) break;
                return Quoted(lead, candidate, command.substr(end));
            }
        }
        --end;
    }
    return std::wstring(commandLine);
}

PreparedCommand PrepareCommandLine(std::wstring_view commandLine, bool redirect32Bit,
                                   std::wstring_view systemDirectory,
                                   std::wstring_view wow64SystemDirectory,
                                   const FileExistsFn& fileExists) {
    if (commandLine.size() > kMaxCommandLength) return {CommandVerdict::TooLong, {}};
    std::wstring command(commandLine);
    if (redirect32Bit) {
        command = ReplaceNoCase(commandLine, systemDirectory, wow64SystemDirectory);
        // ReplaceNoCase also answers empty for a search text it cannot
        // replace safely (an empty or self-containing system directory):
        // that empty command is launched and fails, as it always has. Any
        // other empty answer means the redirected command outgrew the buffer.
        const bool unreplaceable =
            systemDirectory.empty() || ContainsNoCase(wow64SystemDirectory, systemDirectory);
        if (command.empty() && !unreplaceable) return {CommandVerdict::TooLong, {}};
    }
    if (command.size() > kMaxCommandLength) return {CommandVerdict::TooLong, {}};
    return {CommandVerdict::Launch, QuoteProgramPath(command, fileExists)};
}

std::wstring CommandTooLongMessage(std::wstring_view commandLine) {
    std::wstring message(kLogCommandTooLong);
    message.append(commandLine.substr(0, kRefusedCommandShown));
    message.append(kLogCommandCutMark);
    message.append(L"\r\n");
    return message;
}

std::wstring FormatExitCode(std::uint32_t exitCode) {
    return std::to_wstring(static_cast<std::int32_t>(exitCode));
}

}  // namespace clearon
