#include "removal/program_list.h"

#include "config/config_lines.h"
#include "resume/pending_renames.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

constexpr std::wstring_view kAfterWord = L"after";
constexpr std::wstring_view kSetupWord = L"setup";
constexpr std::wstring_view kFolderSeparator = L"\\";

}  // namespace

std::wstring ProgramCommand(std::wstring_view line) {
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos) return {};
    const std::size_t start = line.find_first_not_of(L' ', equals + 1);
    if (start == std::wstring_view::npos) return {};
    return std::wstring(line.substr(start));
}

bool IsAegiraInstaller(std::wstring_view listName, std::wstring_view command) noexcept {
    return ContainsNoCase(listName, kAfterWord) && ContainsNoCase(command, kSetupWord) &&
           !ContainsNoCase(command, kFolderSeparator);
}

void ForEachProgramLine(std::wstring_view config, std::wstring_view listName,
                        const std::function<void(const SectionEntry& entry)>& visit) {
    ForEachSectionEntry(config, kSettingsHeader, [&](const SectionEntry& entry) {
        if (ContainsNoCase(entry.text, listName)) visit(entry);
        return true;
    });
}

void RunProgramList(RemovalContext& context, std::wstring_view listName,
                    std::wstring_view savedArguments) {
    RemovalHost& host = context.host;
    // ConfigText never changes during a run, so walking it while programs run
    // (and the walk's callback blocks on each one) is safe.
    ForEachProgramLine(context.configText, listName, [&](const SectionEntry& entry) {
        if (entry.tooLong) {
            // A cut command line could run something else: skip it, say so.
            host.LogLine(kLogProgramLineTooLong);
            return;
        }
        std::wstring command = ProgramCommand(entry.text);
        if (command.empty()) return;

        SetPendingRenamesAside(host.registry());

        if (!IsAegiraInstaller(listName, command)) {
            (void)host.RunProgram(command, false);
            return;
        }
        if (!savedArguments.empty()) {
            if (command.size() + 1 + savedArguments.size() > kMaxProgramCommandLength) {
                host.LogLine(kLogInstallerTooLong);
                return;
            }
            command.append(L" ").append(savedArguments);
        }
        host.PostStatus(kStatusInstallingAegira);
        context.state.installerLaunched = true;
        (void)host.RunProgram(command, false);
        host.PostStatus(kStatusRunningAfter);
    });
}

}  // namespace clearon
