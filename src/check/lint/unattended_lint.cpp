#include "check/lint/unattended_lint.h"

#include <optional>
#include <string>
#include <utility>

#include "config/config_lines.h"
#include "config/start_mode.h"
#include "removal/program_list.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

// Folders that any signed-in user may create files or folders in on a
// standard Windows installation: a log there can be replaced by a link or
// read by anyone, and a folder of that name created first by a user belongs
// to that user. Lint cannot read the target machine's rights, so it goes by
// where Windows puts them.
struct UserWritable {
    std::wstring_view variable;  // expanded from the environment, when set
    std::wstring_view fallback;  // the folder on a default installation
    std::wstring_view below;     // appended to the variable's value
};
constexpr UserWritable kUserWritable[] = {
    {L"SystemRoot", L"C:\\Windows", L"\\Temp"}, {L"TEMP", L"", L""},     {L"TMP", L"", L""},
    {L"PUBLIC", L"C:\\Users\\Public", L""},     {L"", L"C:\\Temp", L""},
};
// Folders at a drive root that Windows gives rights of their own; any other
// folder there inherits the root's "Authenticated Users: Modify" for what is
// below it. Users is covered by PUBLIC, TEMP and TMP above.
constexpr std::wstring_view kProtectedAtRoot[] = {
    L"windows", L"program files", L"program files (x86)", L"programdata", L"users",
};
// ProgramData gives every user the right to create folders and files, and a
// folder an installer makes there inherits it, unless it is one of these,
// which their makers lock down.
constexpr std::wstring_view kProtectedBelowProgramData[] = {
    L"microsoft\\intunemanagementextension",
};

[[nodiscard]] std::wstring Slashed(std::wstring_view path) {
    std::wstring out(path);
    for (wchar_t& c : out) c = c == L'/' ? L'\\' : c;
    while (out.size() > 1 && out.back() == L'\\') out.pop_back();
    return out;
}

[[nodiscard]] std::wstring Normalised(std::wstring_view path) {
    std::wstring out = Slashed(path);
    for (wchar_t& c : out) c = FoldAscii(c);
    return out;
}

[[nodiscard]] bool IsAtOrBelow(std::wstring_view path, std::wstring_view folder) {
    if (folder.empty()) return false;
    if (path == folder) return true;
    return path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
           (path[folder.size()] == L'\\' || folder.back() == L'\\');
}

// The first `count` backslash-separated parts of `path` (as written).
[[nodiscard]] std::wstring_view LeadingParts(std::wstring_view path, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t i = 0; i < count; ++i) {
        end = path.find(L'\\', end + 1);
        if (end == std::wstring_view::npos) return path;
    }
    return path.substr(0, end);
}

// The user-writable folder `directory` lies in, if any, as written there or
// in the environment.
[[nodiscard]] std::optional<std::wstring> UserWritableFolder(std::wstring_view directory,
                                                             const EnvironmentLookup& environment) {
    const std::wstring written = Slashed(directory);
    const std::wstring path = Normalised(directory);
    for (const UserWritable& place : kUserWritable) {
        std::optional<std::wstring> base;
        if (!place.variable.empty() && environment) base = environment(place.variable);
        std::wstring folder =
            base ? *base + std::wstring(place.below)
                 : (place.fallback.empty()
                        ? std::wstring()
                        : std::wstring(place.fallback) +
                              (place.variable.empty() ? L"" : std::wstring(place.below)));
        if (!folder.empty() && IsAtOrBelow(path, Normalised(folder))) return folder;
    }
    // A drive root, or a folder below one.
    if (path.size() < 2 || path[1] != L':') return std::nullopt;
    if (path.size() == 2) return written + L"\\";
    if (path[2] != L'\\') return std::nullopt;
    const std::wstring_view rest = std::wstring_view(path).substr(3);
    const std::wstring_view first = rest.substr(0, rest.find(L'\\'));
    bool protectedFolder = false;
    for (const std::wstring_view name : kProtectedAtRoot) protectedFolder |= first == name;
    if (!protectedFolder) return std::wstring(LeadingParts(written, 2));
    if (first != L"programdata" || first.size() == rest.size()) return std::nullopt;
    const std::wstring_view below = rest.substr(first.size() + 1);
    for (const std::wstring_view name : kProtectedBelowProgramData) {
        if (IsAtOrBelow(below, name)) return std::nullopt;
    }
    return std::wstring(LeadingParts(written, 3));
}

// The log files a command line hands an installer: Windows Installer's
// "/l*v <file>" and "/log <file>" (also inside InstallShield's /v"..."),
// InstallShield's /f2<file> and Inno Setup's /LOG=<file>.
[[nodiscard]] std::vector<std::wstring> InstallerLogFiles(std::wstring_view command) {
    std::vector<std::wstring> arguments;
    std::wstring current;
    bool quoted = false;
    for (const wchar_t c : command) {
        if (c == L'"') {
            quoted = !quoted;
        } else if (!quoted && (c == L' ' || c == L'\t')) {
            if (!current.empty()) arguments.push_back(std::exchange(current, {}));
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) arguments.push_back(std::move(current));

    std::vector<std::wstring> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::wstring folded = arguments[i];
        for (wchar_t& c : folded) c = FoldAscii(c);
        const bool switchChar = !folded.empty() && (folded[0] == L'/' || folded[0] == L'-');
        if (!switchChar) continue;
        const std::wstring_view name = std::wstring_view(folded).substr(1);
        if (name.starts_with(L"v") && name.size() > 1) {
            // InstallShield hands what follows /v to Windows Installer.
            for (std::wstring& inner :
                 InstallerLogFiles(std::wstring_view(arguments[i]).substr(2))) {
                files.push_back(std::move(inner));
            }
        } else if (name.starts_with(L"log=")) {
            files.push_back(arguments[i].substr(5));
        } else if (name.starts_with(L"f2") && name.size() > 2) {
            files.push_back(arguments[i].substr(3));
        } else if ((name == L"log" ||
                    (name.starts_with(L"l") &&
                     name.find_first_not_of(L"liwearucmopvx+!*", 1) == std::wstring_view::npos)) &&
                   i + 1 < arguments.size()) {
            files.push_back(arguments[++i]);
        }
    }
    return files;
}

void Warn(std::vector<Finding>& findings, std::wstring text) {
    findings.push_back({0, Severity::Warning, std::move(text)});
}

// What Clearon does by itself where nobody can see it: worth knowing, no trap.
void Note(std::vector<Finding>& findings, std::wstring text) {
    findings.push_back({0, Severity::Note, std::move(text)});
}

}  // namespace

std::vector<Finding> LintUnattended(std::wstring_view configText, const Settings& settings,
                                    const EnvironmentLookup& environment) {
    std::vector<Finding> findings;
    // SYSTEM's deployment agents start Clearon in session 0, where nobody
    // can see a window: the run follows Clearon's rules for that case.
    constexpr bool kPersonCanSee = false;
    const StartMode mode =
        DecideStartMode(settings.ShowGUI, settings.AutoRunAfterUILoads, kPersonCanSee);
    // What Clearon would log where nobody can see it goes nowhere at all
    // with EnableLogging=N: every entry is dropped, and only its own messages
    // (too little free space) still reach standard output in a silent run.
    const bool logged = settings.EnableLogging;
    if (mode == StartMode::NeedsPerson) {
        Warn(findings,
             L"ShowGUI=Y without AutoRunAfterUILoads=Y: the dialog waits for a person "
             L"to press Start, and as SYSTEM nobody can see it, so Clearon " +
                 std::wstring(logged ? L"logs that and " : L"") + L"ends with " +
                 std::to_wstring(kExitNeedsPerson) + L" having done nothing" +
                 std::wstring(logged ? L"" : L", and with EnableLogging=N nothing says why") +
                 L". Set ShowGUI=N, or AutoRunAfterUILoads=Y.");
    } else if (mode == StartMode::SilentNobodySees) {
        Note(findings,
             std::wstring(L"ShowGUI=Y with AutoRunAfterUILoads=Y: as SYSTEM nobody can see the "
                          L"dialog, so Clearon leaves it out, ") +
                 (logged ? L"logs that, and runs silently."
                         : L"and runs silently; with EnableLogging=N nothing says so."));
    }
    if (settings.AskBeforeRemoval) {
        Warn(findings,
             L"AskBeforeRemoval is on (it is on unless set to N): as SYSTEM nobody can see the "
             L"Question box, so Clearon answers it Yes, its default button, and " +
                 std::wstring(logged ? L"logs the question"
                                     : L"with EnableLogging=N writes the question nowhere") +
                 L": every product it finds is removed without anybody's answer. Set "
                 L"AskBeforeRemoval=N to say so.");
    }
    if (settings.ShowMessageBox) {
        Note(findings,
             std::wstring(L"ShowMessageBox=Y: as SYSTEM nobody can see the notice, so Clearon ") +
                 (logged ? L"logs it instead of showing it, and the run goes ahead."
                         : L"does not show it, and with EnableLogging=N does not log it either: "
                           L"it reaches nobody, and the run goes ahead."));
    }
    if (settings.ResumeAfterReboot) {
        Warn(findings,
             L"ResumeAfterReboot is on (it is on unless set to N): Clearon registers itself in "
             L"the current user's RunOnce key, which Windows runs at that account's next logon, "
             L"or, when that account has no RunOnce key, in the machine's RunOnce key, which "
             L"Windows runs at the next logon of an administrator. SYSTEM never logs on, so "
             L"the resumed run waits for whoever logs on next, or never comes. Let the "
             L"deployment system rerun Clearon after the restart (ClearonCheck deploy answers "
             L"3010) and set ResumeAfterReboot=N.");
    }
    if (!settings.EnableLogging) {
        // Clearon's own messages (too little free space) are reported before
        // the start mode is settled, while the run is silent only by ShowGUI.
        const bool toStandardOutput =
            MessageSinkFor(!settings.ShowGUI, kPersonCanSee) == MessageSink::StandardOutput;
        Warn(
            findings,
            L"EnableLogging=N: no run log, so neither ClearonCheck deploy nor result can "
            L"tell the outcome of a run, and the questions Clearon answers and the notice it "
            L"does not show are written nowhere. Its own messages, such as too little free "
            L"space on the system drive, " +
                std::wstring(toStandardOutput ? L"go to standard output only." : L"reach nobody."));
    }
    const std::wstring logPath = GetSectionValue(configText, kKeyLogPath);
    if (!logPath.empty()) {
        const std::wstring directory = ExpandLogPathReferences(logPath, environment);
        if (const std::optional<std::wstring> folder = UserWritableFolder(directory, environment)) {
            Warn(findings, L"LogPath \"" + logPath + L"\" lies in " + *folder +
                               L", where ordinary users may create files and folders: one can "
                               L"replace or read the log SYSTEM writes. Use a folder only "
                               L"administrators can write to.");
        }
    }
    const auto lintInstallerLogs = [&](std::wstring_view where, std::wstring_view command) {
        for (const std::wstring& file : InstallerLogFiles(command)) {
            const std::wstring expanded = ExpandLogPathReferences(file, environment);
            const std::size_t slash = Slashed(expanded).rfind(L'\\');
            if (slash == std::wstring::npos) continue;
            if (const std::optional<std::wstring> folder =
                    UserWritableFolder(std::wstring_view(expanded).substr(0, slash), environment)) {
                Warn(findings, std::wstring(where) + L" hands an installer the log file \"" + file +
                                   L"\" in " + *folder +
                                   L", where ordinary users may create files and folders: a "
                                   L"link planted there turns SYSTEM's log writes into writes "
                                   L"elsewhere. Use a folder only administrators can write to.");
            }
        }
    };
    for (const std::wstring_view key :
         {kKeyMSIExtraParameters, kKeyInstallShieldExtraParameters, kKeyDefaultExtraParameters}) {
        lintInstallerLogs(key, GetSectionValue(configText, key));
    }
    for (const std::wstring_view list : {kKeyRunBeforeRemoval, kKeyRunAfterRemoval}) {
        ForEachProgramLine(configText, list, [&](const SectionEntry& entry) {
            if (!entry.tooLong) lintInstallerLogs(list, ProgramCommand(entry.text));
        });
    }
    if (settings.AllowUserWritablePrograms) {
        Warn(findings,
             L"AllowUserWritablePrograms=Y: programs that others than administrators can change "
             L"(the file, its folder or a folder above it) run as SYSTEM all the same. Set it "
             L"only for a package whose rights cannot be fixed.");
    }
    const std::wstring limit = GetSectionValue(configText, kKeyProgramTimeLimit);
    if (limit.empty() || limit.find_first_not_of(L" 0") == std::wstring::npos) {
        Warn(findings,
             L"no ProgramTimeLimit: an uninstaller or installer that hangs holds the run "
             L"until the deployment system's own limit ends it. Set "
             L"ProgramTimeLimit=<minutes>.");
    }
    return findings;
}

Finding OwnFolderFinding(std::wstring_view folder, std::wstring_view reason) {
    return {0, Severity::Warning,
            L"Clearon's folder " + std::wstring(folder) +
                L" can be changed by others than administrators (" + std::wstring(reason) +
                L"): one can replace Clearon.exe or a program it runs from there, which then "
                L"runs as SYSTEM, and Clearon refuses to run programs from it. Give only "
                L"administrators the right to change it."};
}

}  // namespace clearon::check
