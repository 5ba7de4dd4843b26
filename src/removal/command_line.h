// How the program runner turns a command line it is given into the command
// line it launches, and the log texts of the runner. No Windows calls here:
// the one question about the machine (does this file exist?) is asked through
// a callback, so the rules run in host tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace clearon {

// The longest command line the runner launches (its buffer holds 512
// characters with the terminator). A longer one is refused, never cut: a cut
// command could name another program or drop a switch that keeps it silent.
inline constexpr std::size_t kMaxCommandLength = 511;

// How many characters of a refused command the log line shows.
inline constexpr std::size_t kRefusedCommandShown = 80;

// Does `path` name an existing file (not a folder)? Relative paths are taken
// from the current directory, as Windows takes them.
using FileExistsFn = std::function<bool(std::wstring_view path)>;

// Puts double quotes around the program path of an unquoted command line
// whose path contains a blank. Given "C:\Program Files\Acme\uninst /S",
// CreateProcessW tries "C:\Program.exe" first; an administrator's tool must
// run the program the command names, never one planted at a shorter prefix.
//   1. A quoted command (first character a double quote) is left as it is.
//   2. Arguments begin at the first later token that starts with "/", with
//      "-" and a letter or digit (and holds no backslash), with a double
//      quote, or with a drive or share path: the program path ends before
//      them, so a ".exe" inside an argument never extends it.
//   3. The evident program path is the text up to the first ".exe" (any
//      case) that ends a token before the arguments; without one, the first
//      token and every following token that continues it with a backslash.
//   4. When that path holds a blank, the longest prefix from it up to the
//      arguments that names an existing file (as is, or with ".exe" when its
//      last name has no extension, as Windows adds it) is quoted. When none
//      does, nothing is returned: Windows could only guess among blank-cut
//      prefixes, and the command must not run.
//   5. A path without a blank is left as it is when its first token is what
//      Windows would run. Otherwise the longest prefix before the arguments
//      that names an existing file, as is or with ".exe", is quoted if it
//      holds a blank; failing that, the command is refused when any longer
//      prefix (arguments included) would be run by Windows' guessing, and
//      left as it is (to fail to launch) when none would.
// Leading blanks are kept as they are.
[[nodiscard]] std::optional<std::wstring> QuoteProgramPath(std::wstring_view commandLine,
                                                           const FileExistsFn& fileExists);

enum class CommandVerdict {
    Launch,
    TooLong,
    Unresolved,
    NotInSafeFolders,  // a bare program name found in none of the folders allowed (program_path.h)
    UserWritable,      // others than administrators may change the program (program_rights.h)
};

struct PreparedCommand {
    CommandVerdict verdict = CommandVerdict::Launch;
    std::wstring commandLine;  // as launched (and logged), when verdict is Launch
    std::wstring reason;       // UserWritable: who may do what to which file or folder
    // The program name without a folder that was looked up (program_path.h),
    // for the log line before the launch; empty when the command named a path.
    std::wstring lookedUp;
};

// The command the runner launches for `commandLine`:
//   - with `redirect32Bit`, every occurrence of `systemDirectory` (any case)
//     becomes `wow64SystemDirectory` (ReplaceNoCase; its empty result, for an
//     empty system directory, is launched as it is and fails to launch);
//   - a command longer than kMaxCommandLength characters after that
//     replacement is refused (TooLong);
//   - the program path is quoted by QuoteProgramPath; a program that
//     cannot be told without guessing is refused (Unresolved).
[[nodiscard]] PreparedCommand PrepareCommandLine(std::wstring_view commandLine, bool redirect32Bit,
                                                 std::wstring_view systemDirectory,
                                                 std::wstring_view wow64SystemDirectory,
                                                 const FileExistsFn& fileExists);

// The message of the refusal log line (without the timestamp): the fixed
// text, the first kRefusedCommandShown characters of the command, "..." and
// "\r\n". Bounded whatever the command's length.
[[nodiscard]] std::wstring CommandTooLongMessage(std::wstring_view commandLine);

// The refusal line of an Unresolved command, without the timestamp: the fixed
// text, the command with its control characters made visible, "\r\n".
[[nodiscard]] std::wstring ProgramNotFoundMessage(std::wstring_view commandLine);

// The exit code as "%d" writes it: signed 32-bit decimal, so 0xC0000005 is
// -1073741819.
[[nodiscard]] std::wstring FormatExitCode(std::uint32_t exitCode);

}  // namespace clearon
