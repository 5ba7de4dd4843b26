// How the program runner turns a command line it is given into the command
// line it launches, and the log texts of the runner. No Windows calls here:
// the one question about the machine (does this file exist?) is asked through
// a callback, so the rules run in host tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace clearon {

// The longest command line the runner launches (its buffer holds 512
// characters with the terminator). A longer one is refused, never cut: a cut
// command could name another program or drop a switch that keeps it silent.
inline constexpr std::size_t kMaxCommandLength = 511;

// How many characters of a refused command the log line shows.
inline constexpr std::size_t kRefusedCommandShown = 80;

// Log lines of the program runner (each written after a timestamp).
inline constexpr std::wstring_view kLogAttemptingToRun = L" Attempting to run: ";
inline constexpr std::wstring_view kLogFailedToLaunch = L" Failed to launch process!\r\n";
inline constexpr std::wstring_view kLogExitCode = L" Exit code: ";
inline constexpr std::wstring_view kLogCommandTooLong =
    L" Not running a command longer than 511 characters: ";
inline constexpr std::wstring_view kLogCommandCutMark = L"...";

// Does `path` name an existing file (not a folder)? Relative paths are taken
// from the current directory, as Windows takes them.
using FileExistsFn = std::function<bool(std::wstring_view path)>;

// Puts double quotes around the program path of an unquoted command line
// whose path contains a blank. Given "C:\Program Files\Acme\uninst.exe /S",
// CreateProcessW would try "C:\Program.exe" first; an administrator's tool
// must run the program the command names, not one planted at a shorter
// prefix. The rules, in order:
//   1. A quoted command (first character a double quote) is left as it is.
//   2. If the text up to the first ".exe" (any case) that is followed by a
//      blank or the end of the line contains a blank, that text is quoted.
//   3. If the first blank-separated token is not an existing file, the
//      longest prefix ending before a blank (or the whole command) that names
//      an existing file, as is or with ".exe", is quoted when it contains a
//      blank.
//   4. Otherwise the command is left as it is.
// Leading blanks are kept as they are.
[[nodiscard]] std::wstring QuoteProgramPath(std::wstring_view commandLine,
                                            const FileExistsFn& fileExists);

enum class CommandVerdict { Launch, TooLong };

struct PreparedCommand {
    CommandVerdict verdict = CommandVerdict::Launch;
    std::wstring commandLine;  // as launched (and logged), when verdict is Launch
};

// The command the runner launches for `commandLine`:
//   - with `redirect32Bit`, every occurrence of `systemDirectory` (any case)
//     becomes `wow64SystemDirectory` (ReplaceNoCase; its empty result, for an
//     empty system directory, is launched as it is and fails to launch);
//   - a command longer than kMaxCommandLength characters after that
//     replacement is refused (TooLong);
//   - the program path is quoted by QuoteProgramPath.
[[nodiscard]] PreparedCommand PrepareCommandLine(std::wstring_view commandLine, bool redirect32Bit,
                                                 std::wstring_view systemDirectory,
                                                 std::wstring_view wow64SystemDirectory,
                                                 const FileExistsFn& fileExists);

// The message of the refusal log line (without the timestamp): the fixed
// text, the first kRefusedCommandShown characters of the command, "..." and
// "\r\n". Bounded whatever the command's length.
[[nodiscard]] std::wstring CommandTooLongMessage(std::wstring_view commandLine);

// The exit code as "%d" writes it: signed 32-bit decimal, so 0xC0000005 is
// -1073741819.
[[nodiscard]] std::wstring FormatExitCode(std::uint32_t exitCode);

}  // namespace clearon
