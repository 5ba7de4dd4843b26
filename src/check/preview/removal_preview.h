// ClearonCheck preview: what a removal run would meet and run on this
// machine. It is Clearon's own removal sequence, run over a host that reads
// through the Registry interface and records instead of acting
// (preview_host.h): nothing is written, run or logged, and every decision
// shown (which roots, which entries, which value gives the command, how it
// is completed and redirected) is the run's own.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/cli/check_codes.h"
#include "check/cli/text_sink.h"
#include "config/settings.h"
#include "platform/object_security.h"
#include "platform/registry.h"
#include "removal/mcafee_remover.h"

namespace clearon::check {

struct PreviewOptions {
    bool is64BitSystem = false;
    std::wstring systemDirectory;       // replaced in commands found in the 32-bit view
    std::wstring wow64SystemDirectory;  // ...by this
    std::wstring savedArguments;        // Clearon's arguments, appended to Aegira's installer
    // Does `path` name an existing file? `view32Bit` tells that the program
    // runner would have the 32-bit system directory as its current directory
    // (relative paths are then taken from there).
    std::function<bool(std::wstring_view path, bool view32Bit)> fileExists;
    // An environment variable as Clearon reads it (McAfee's installer is
    // looked for below the common-files folders); nothing when undefined.
    std::function<std::optional<std::wstring>(std::wstring_view name)> environmentVariable;
    // Where a program named without a folder is looked for: Clearon's
    // folder (the configuration's), the Windows folder and PATH.
    std::wstring exeDirectory;
    std::wstring windowsDirectory;
    std::wstring pathVariable;
    // Who may change the programs, as the run would check it; nothing: not
    // checked. The account the preview runs as stands for Clearon's.
    SecurityReader* rights = nullptr;
    std::wstring runningAccount;
};

enum class PreviewOutcome {
    Runs,              // the command is run
    RunsAgain,         // a display name met before: runs only if that removal left it
    MakersOwn,         // skipped: the maker's own product, RemoveTessaral is N
    Deferred,          // skipped now: McAfee SecurityCenter waits for the final pass
    ShortName,         // skipped: the product name has fewer than 5 characters
    NoCommand,         // skipped: no uninstall value and no product-code key name
    TooLong,           // refused: the completed command is longer than 511 characters
    ProgramNotFound,   // refused: an unquoted program path with a blank names no file
    NotInSafeFolders,  // refused: a bare program name found neither beside Clearon nor in the
                       // system folders
    UserWritable,      // refused: others than administrators can change the program
    EmptyCommand,      // program line without a command
    ProgramTooLong,    // program line longer than 254 characters: skipped
};

enum class PreviewKind {
    BeforeProgram,
    McAfeeComponent,  // run for a McAfee entry before its own command
    Entry,
    Proventia,
    McAfeeAgent,
    AfterProgram,
};

struct PreviewItem {
    PreviewKind kind = PreviewKind::Entry;
    PreviewOutcome outcome = PreviewOutcome::Runs;
    std::size_t line = 0;      // the Clearon.ini line it comes from
    std::wstring productName;  // the configured name (entries)
    bool finalPass = false;    // the McAfee SecurityCenter pass after all names
    std::wstring root;         // the root below HKEY_LOCAL_MACHINE
    bool view32Bit = false;    // a Wow6432Node root: commands redirected
    std::wstring key;          // the candidate key below HKEY_LOCAL_MACHINE
    std::wstring displayName;
    std::wstring valueName;          // the value the command came from; empty: the key name
    std::wstring storedCommand;      // as stored, or the program line's command
    std::wstring completedCommand;   // after the uninstaller table (entries)
    std::wstring commandLine;        // exactly as the runner launches and logs it
    std::wstring refusalReason;      // UserWritable: who may do what to which file or folder
    bool asks = false;               // the Question box comes first
    bool installer = false;          // Aegira's installer
    bool mcAfeeComponents = false;   // McAfee's components are removed first
    std::wstring mcAfeeInstaller;    // ...with this mcinst.exe; empty: none found, none removed
    std::size_t mcAfeeCommands = 0;  // ...by this many McAfeeComponent items before it
    // McAfeeComponent items: where the command comes from (`key` and
    // `valueName` name what was read), the component's index in
    // kMcAfeeComponents and the .inf file found now.
    McAfeeCommandSource mcAfeeSource = McAfeeCommandSource::VirusScan;
    std::size_t mcAfeeComponent = 0;
    std::wstring infPath;
};

struct PreviewResult {
    Settings settings;
    std::vector<std::wstring> refusedSettings;
    std::vector<PreviewItem> items;  // in the order of the run
};

[[nodiscard]] PreviewResult PreviewRemoval(Registry& registry, std::wstring_view configText,
                                           const PreviewOptions& options);

// The command lines the run would launch, in order (items that run, first
// meetings only).
[[nodiscard]] std::vector<std::wstring> PreviewCommandLines(const PreviewResult& result);

// The entries a preview would run an uninstaller for (first meetings only).
[[nodiscard]] std::size_t RemovalsInPreview(const PreviewResult& result);

// preview's exit status: kCheckPreviewFault when the walk asked for any
// registry write (`refusedWrites`: a fault of ClearonCheck itself, never a
// finding), else 1 when something would be removed, 0 when nothing would.
[[nodiscard]] int PreviewExitStatus(const PreviewResult& result, std::size_t refusedWrites);

// The report as printed.
[[nodiscard]] std::wstring FormatPreview(const PreviewResult& result,
                                         const PreviewOptions& options);

#ifdef _WIN32
// Previews the configuration text read from `iniPath` against this machine's
// registry, read-only (ClearonCheck.exe preview); prints the report or JSON.
[[nodiscard]] int PreviewOnThisMachine(const std::filesystem::path& iniPath,
                                       std::wstring_view configText,
                                       std::wstring_view savedArguments, bool json,
                                       std::wstring& out, TextSink& err);
#endif

}  // namespace clearon::check
