#include "check/unattended_lint.h"

#include <optional>
#include <string>

#include "text/wide_string.h"

namespace clearon::check {
namespace {

// Folders that any signed-in user may create files or folders in: a log
// there can be replaced by a link or read by anyone, and a folder of that
// name created first by a user belongs to that user.
struct UserWritable {
    std::wstring_view variable;  // expanded from the environment, when set
    std::wstring_view fallback;  // the folder on a default installation
    std::wstring_view below;     // appended to the variable's value
    bool subfoldersToo;          // folders below it inherit the user's rights
};
constexpr UserWritable kUserWritable[] = {
    {L"SystemRoot", L"C:\\Windows", L"\\Temp", true},
    {L"TEMP", L"", L"", true},
    {L"TMP", L"", L"", true},
    {L"PUBLIC", L"C:\\Users\\Public", L"", true},
    {L"", L"C:\\Temp", L"", true},
    {L"ProgramData", L"C:\\ProgramData", L"", false},
    {L"SystemDrive", L"C:", L"\\", false},
};

[[nodiscard]] std::wstring Normalised(std::wstring_view path) {
    std::wstring out(path);
    for (wchar_t& c : out) c = c == L'/' ? L'\\' : FoldAscii(c);
    while (out.size() > 1 && out.back() == L'\\') out.pop_back();
    return out;
}

[[nodiscard]] bool IsAtOrBelow(std::wstring_view path, std::wstring_view folder, bool below) {
    if (folder.empty()) return false;
    if (path == folder) return true;
    return below && path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
           (path[folder.size()] == L'\\' || folder.back() == L'\\');
}

// The user-writable folder the log directory lies in, if any.
[[nodiscard]] std::optional<std::wstring> UserWritableFolder(std::wstring_view directory,
                                                             const EnvironmentLookup& environment) {
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
        if (folder.empty()) continue;
        std::wstring normalised = Normalised(folder);
        if (normalised.size() == 2 && normalised[1] == L':') normalised += L'\\';
        const std::wstring compared = path.size() == 2 && path[1] == L':' ? path + L"\\" : path;
        if (IsAtOrBelow(compared, normalised, place.subfoldersToo)) return folder;
    }
    return std::nullopt;
}

void Warn(std::vector<Finding>& findings, std::wstring text) {
    findings.push_back({0, Severity::Warning, std::move(text)});
}

}  // namespace

std::vector<Finding> LintUnattended(std::wstring_view configText, const Settings& settings,
                                    const EnvironmentLookup& environment) {
    std::vector<Finding> findings;
    constexpr std::wstring_view kNobody =
        L" As SYSTEM nobody sees it and the run waits until "
        L"the deployment system gives up.";
    if (settings.AskBeforeRemoval) {
        Warn(findings,
             L"AskBeforeRemoval is on (it is on unless set to N): a Question box comes "
             L"before every removal." +
                 std::wstring(kNobody));
    }
    if (settings.ShowMessageBox) {
        Warn(findings,
             L"ShowMessageBox=Y shows a notice before the removal." + std::wstring(kNobody));
    }
    if (settings.ShowGUI && !settings.AutoRunAfterUILoads) {
        Warn(findings,
             L"ShowGUI=Y without AutoRunAfterUILoads=Y: the dialog waits for a person to "
             L"press Start." +
                 std::wstring(kNobody) + L" Set ShowGUI=N, or AutoRunAfterUILoads=Y.");
    }
    if (settings.ResumeAfterReboot) {
        Warn(findings,
             L"ResumeAfterReboot is on (it is on unless set to N): Clearon registers itself in "
             L"the current user's RunOnce key, which Windows runs at that account's next logon, "
             L"or, when the running account has none, in the machine's RunOnce key, which "
             L"Windows runs at the next logon of an administrator. SYSTEM never logs on, so "
             L"the resumed run waits for whoever logs on next, or never comes. Let the "
             L"deployment system rerun Clearon after the restart (ClearonCheck deploy answers "
             L"3010) and set ResumeAfterReboot=N.");
    }
    if (!settings.EnableLogging) {
        Warn(findings,
             L"EnableLogging=N: no run log, so neither ClearonCheck deploy nor result can "
             L"tell the outcome of a run.");
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
    const std::wstring limit = GetSectionValue(configText, kKeyProgramTimeLimit);
    if (limit.empty() || limit.find_first_not_of(L" 0") == std::wstring::npos) {
        Warn(findings,
             L"no ProgramTimeLimit: an uninstaller or installer that hangs holds the run "
             L"until the deployment system's own limit ends it. Set "
             L"ProgramTimeLimit=<minutes>.");
    }
    return findings;
}

}  // namespace clearon::check
