// Which file a command runs, and whether Clearon may run it. Windows would
// look for a program named without a folder in Clearon's folder, the current
// folder, the system folders and every folder on PATH; a PATH folder that
// users can write to would then supply the program. So a bare name is looked
// for here, in Clearon's folder and the system folders only, and the full
// path found is launched. The file found, its folder and the folders above it
// are then checked for rights of ordinary users (program_rights.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/object_security.h"
#include "removal/command_line.h"
#include "removal/program_rights.h"

namespace clearon {

// The folders a bare program name may come from.
struct ProgramFolders {
    std::wstring_view exeDirectory;
    std::wstring_view systemDirectory;
    std::wstring_view wow64SystemDirectory;
    std::wstring_view windowsDirectory;
    std::wstring_view pathVariable;  // PATH, as the process has it
};

// In order: Clearon's folder, the system folder (the 32-bit one in the
// 32-bit view), the Windows folder, then every PATH folder that lies below
// the Windows folder (mapped to the 32-bit system folder in that view),
// each once. PATH folders elsewhere, relative ones and ones that climb out
// with ".." are left out.
[[nodiscard]] std::vector<std::wstring> ProgramSearchFolders(const ProgramFolders& folders,
                                                             bool view32Bit);

// "C:\a\.\b\..\c" as "C:\a\c"; a relative path is taken from
// `currentDirectory` (a path starting with "\" from its drive).
[[nodiscard]] std::wstring FullProgramPath(std::wstring_view path,
                                           std::wstring_view currentDirectory);

// What the checks are given besides the command.
struct LaunchChecks {
    ProgramFolders folders;
    std::wstring_view currentDirectory;
    // Nothing: AllowUserWritablePrograms=Y, the rights are not looked at.
    SecurityReader* rights = nullptr;
    TrustedWriters trusted;
};

// The checks of a command PrepareCommandLine let through (verdict Launch):
// a bare program name becomes the full path found for it (quoted when it
// holds a blank; too long for the command line is TooLong), or the command
// is refused (NotInSafeFolders); then, unless checks.rights is null, the
// program's rights are checked (UserWritable, with `reason`). A program file
// that does not exist is not refused here (Windows fails to start it), but
// the nearest folder that exists is checked as its folder, so that nobody
// can put it there in between. Any other verdict is returned as it is.
[[nodiscard]] PreparedCommand CheckLaunch(PreparedCommand prepared, bool view32Bit,
                                          const LaunchChecks& checks,
                                          const FileExistsFn& fileExists);

// The line before the attempt when a bare name was looked up
// (prepared.lookedUp), without the timestamp; empty otherwise.
[[nodiscard]] std::wstring LookedUpMessage(const PreparedCommand& prepared);

// The refusal line of a command CheckLaunch refused, without the timestamp.
[[nodiscard]] std::wstring LaunchRefusalMessage(const PreparedCommand& prepared);

}  // namespace clearon
