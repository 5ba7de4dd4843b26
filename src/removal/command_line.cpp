#include "removal/command_line.h"

#include <cstdint>
#include <vector>

#include "log/log_texts.h"
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

// What Windows itself would run for this path: the name as is when its last
// name has an extension, else the name with ".exe" added.
[[nodiscard]] bool ResolvesAsWindowsDoes(std::wstring_view candidate,
                                         const FileExistsFn& fileExists) {
    if (candidate.find(L'"') != std::wstring_view::npos) return false;
    const std::size_t lastSeparator = candidate.find_last_of(L"\\/:");
    const std::size_t lastDot = candidate.rfind(L'.');
    const bool hasExtension = lastDot != std::wstring_view::npos &&
                              (lastSeparator == std::wstring_view::npos || lastDot > lastSeparator);
    if (hasExtension) return fileExists(candidate);
    std::wstring withSuffix(candidate);
    withSuffix.append(kExeSuffix);
    return fileExists(withSuffix);
}

struct Token {
    std::size_t begin = 0;
    std::size_t end = 0;
};

[[nodiscard]] std::vector<Token> Tokens(std::wstring_view command) {
    std::vector<Token> tokens;
    std::size_t at = 0;
    while (at < command.size()) {
        while (at < command.size() && IsBlank(command[at])) ++at;
        if (at == command.size()) break;
        Token token{at, at};
        while (token.end < command.size() && !IsBlank(command[token.end])) ++token.end;
        tokens.push_back(token);
        at = token.end;
    }
    return tokens;
}

[[nodiscard]] constexpr bool IsAsciiAlphanumeric(wchar_t c) noexcept {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

// A token that cannot continue a program path: a switch, a quoted text, or
// a path of its own. "-" followed by a blank or by a folder name with a
// backslash ("Acme - Tools\x.exe") is part of a folder name, not a switch.
[[nodiscard]] bool StartsArguments(std::wstring_view token) noexcept {
    const wchar_t first = token.front();
    if (first == L'/' || first == L'"') return true;
    if (first == L'-') {
        return token.size() > 1 && IsAsciiAlphanumeric(token[1]) &&
               token.find(L'\\') == std::wstring_view::npos;
    }
    if (token.size() >= 2 && token[0] == L'\\' && token[1] == L'\\') return true;
    return token.size() >= 2 && token[1] == L':';
}

// The rule for a program path without a blank: when the first token is not
// what Windows would run, the longest prefix before the arguments that names
// an existing file is quoted if it holds a blank. When none does, Windows
// would go on trying longer prefixes, arguments included: should one of them
// name a program, the command is refused rather than left to that guess.
[[nodiscard]] std::optional<std::wstring> QuoteLongestExisting(std::wstring_view lead,
                                                               std::wstring_view command,
                                                               const std::vector<Token>& tokens,
                                                               std::size_t lastToken,
                                                               const FileExistsFn& fileExists) {
    const std::wstring unchanged = std::wstring(lead) + std::wstring(command);
    if (ResolvesAsWindowsDoes(command.substr(0, tokens[0].end), fileExists)) return unchanged;
    // Longest first: the order in which a reader would resolve the
    // ambiguity, and the reverse of the order in which CreateProcessW tries.
    for (std::size_t k = lastToken + 1; k-- > 0;) {
        const std::wstring_view candidate = command.substr(0, tokens[k].end);
        if (!NamesFile(candidate, fileExists)) continue;
        if (!HasBlank(candidate)) break;
        return Quoted(lead, candidate, command.substr(tokens[k].end));
    }
    for (std::size_t k = 1; k < tokens.size(); ++k) {
        if (ResolvesAsWindowsDoes(command.substr(0, tokens[k].end), fileExists)) {
            return std::nullopt;
        }
    }
    return unchanged;
}

}  // namespace

std::optional<std::wstring> QuoteProgramPath(std::wstring_view commandLine,
                                             const FileExistsFn& fileExists) {
    std::size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start])) ++start;
    const std::wstring_view lead = commandLine.substr(0, start);
    const std::wstring_view command = commandLine.substr(start);
    if (command.empty() || command.front() == L'"') return std::wstring(commandLine);

    const std::vector<Token> tokens = Tokens(command);
    // The last token that may still belong to the program path.
    std::size_t lastToken = 0;
    while (
        lastToken + 1 < tokens.size() &&
        !StartsArguments(command.substr(tokens[lastToken + 1].begin,
                                        tokens[lastToken + 1].end - tokens[lastToken + 1].begin))) {
        ++lastToken;
    }

    // The evident path: up to a ".exe" that ends a token before the
    // arguments, else the first token and the tokens continuing it.
    std::size_t pathToken = 0;
    const std::size_t exeEnd = ExePathEnd(command);
    bool exeFound = false;
    for (std::size_t k = 0; k <= lastToken && exeEnd != std::wstring_view::npos; ++k) {
        if (tokens[k].end == exeEnd &&
            command.substr(0, exeEnd).find(L'"') == std::wstring_view::npos) {
            pathToken = k;
            exeFound = true;
        }
    }
    if (exeFound) {
        lastToken = pathToken;  // nothing after ".exe" belongs to the program
    } else {
        while (pathToken < lastToken &&
               command.substr(tokens[pathToken + 1].begin,
                              tokens[pathToken + 1].end - tokens[pathToken + 1].begin)
                       .find(L'\\') != std::wstring_view::npos) {
            ++pathToken;
        }
    }
    if (pathToken == 0) return QuoteLongestExisting(lead, command, tokens, lastToken, fileExists);

    for (std::size_t k = lastToken + 1; k-- > pathToken;) {
        const std::wstring_view candidate = command.substr(0, tokens[k].end);
        if (ResolvesAsWindowsDoes(candidate, fileExists)) {
            return Quoted(lead, candidate, command.substr(tokens[k].end));
        }
    }
    return std::nullopt;
}

PreparedCommand PrepareCommandLine(std::wstring_view commandLine, bool redirect32Bit,
                                   std::wstring_view systemDirectory,
                                   std::wstring_view wow64SystemDirectory,
                                   const FileExistsFn& fileExists) {
    if (commandLine.size() > kMaxCommandLength) return {CommandVerdict::TooLong, {}, {}, {}};
    std::wstring command(commandLine);
    if (redirect32Bit) {
        command = ReplaceNoCase(commandLine, systemDirectory, wow64SystemDirectory);
        // ReplaceNoCase also answers empty for a search text it cannot
        // replace safely (an empty or self-containing system directory):
        // that empty command is launched and fails, as it always has. Any
        // other empty answer means the redirected command outgrew the buffer.
        const bool unreplaceable =
            systemDirectory.empty() || ContainsNoCase(wow64SystemDirectory, systemDirectory);
        if (command.empty() && !unreplaceable) return {CommandVerdict::TooLong, {}, {}, {}};
    }
    if (command.size() > kMaxCommandLength) return {CommandVerdict::TooLong, {}, {}, {}};
    std::optional<std::wstring> quoted = QuoteProgramPath(command, fileExists);
    if (!quoted) return {CommandVerdict::Unresolved, std::move(command), {}, {}};
    // The two quotes count too: a command that fits only without them is
    // refused like any other that outgrows the command-line buffer.
    if (quoted->size() > kMaxCommandLength) return {CommandVerdict::TooLong, {}, {}, {}};
    return {CommandVerdict::Launch, std::move(*quoted), {}, {}};
}

std::wstring CommandTooLongMessage(std::wstring_view commandLine) {
    std::wstring message(kLogCommandTooLong);
    message.append(commandLine.substr(0, kRefusedCommandShown));
    message.append(kLogCommandCutMark);
    message.append(L"\r\n");
    return message;
}

std::wstring ProgramNotFoundMessage(std::wstring_view commandLine) {
    std::wstring message(kLogProgramNotFound);
    message.append(VisibleText(commandLine));
    message.append(L"\r\n");
    return message;
}

std::wstring FormatExitCode(std::uint32_t exitCode) {
    return std::to_wstring(static_cast<std::int32_t>(exitCode));
}

}  // namespace clearon
