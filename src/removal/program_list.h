// The programs the configuration lists for one moment of the removal run:
// every [Settings] line that holds the list name, in file order. Among the
// after-removal programs, Aegira's installer is recognised and started with
// Clearon's own arguments.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "config/config_lines.h"
#include "removal/removal_context.h"

namespace clearon {

inline constexpr std::wstring_view kStatusInstallingAegira = L"Installing Aegira . . .";
inline constexpr std::wstring_view kStatusRunningAfter = L"Running programs after removal . . .";

// After the end of the session was announced, no program may start: it
// would set the pending renames aside again, and the restart that follows
// would skip them. True (and logged once) from then on.
[[nodiscard]] bool ProgramsStoppedBySessionEnd(RemovalContext& context);

// A program command lives in a 255-character buffer.
inline constexpr std::size_t kMaxProgramCommandLength = 254;

// The command of a program line: the text after the first "=", from its
// first character that is not a blank (U+0020) to the end of the line; empty
// when the line has no "=".
[[nodiscard]] std::wstring ProgramCommand(std::wstring_view line);

// Aegira's installer is an after-removal command that names a setup program
// without any folder ("setup.exe /quiet", not "C:\Kits\setup.exe").
[[nodiscard]] bool IsAegiraInstaller(std::wstring_view listName,
                                     std::wstring_view command) noexcept;

// Every program line of the list `listName`, in file order: each [Settings]
// entry that contains the list name, anywhere and in any case (so a key
// "RunAfterRemoval2" is a program line too). Lines too long for the line
// buffer come with tooLong set and must not be run.
void ForEachProgramLine(std::wstring_view config, std::wstring_view listName,
                        const std::function<void(const SectionEntry& entry)>& visit);

// Runs every program of the list `listName` ("RunBeforeRemoval" or
// "RunAfterRemoval"), each after the pending file renames have been set
// aside, and returns when the last one has ended with its whole process
// tree. The installer gets " " + savedArguments appended and sets
// installerLaunched only when it was started.
void RunProgramList(RemovalContext& context, std::wstring_view listName,
                    std::wstring_view savedArguments);

}  // namespace clearon
