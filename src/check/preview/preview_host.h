// The host ClearonCheck's preview hands to Clearon's own removal sequence
// (RunRemovalSteps): it reads the machine through the registry it is given
// and records instead of acting. A program is not run but turned into the
// command line the runner would launch; the "Question" box is answered Yes
// and remembered; the pending file renames, the status texts and the log are
// left alone. Its report is built from the run's notes (removal_notes.h), so
// every decision in it is the run's own.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check/preview/removal_preview.h"
#include "removal/removal_host.h"
#include "removal/removal_state.h"

namespace clearon::check {

class PreviewHost final : public RemovalHost {
public:
    PreviewHost(Registry& registry, std::wstring_view config, const PreviewOptions& options,
                PreviewResult& result)
        : registry_(registry), config_(config), options_(options), result_(result) {}

    // Reads the settings and runs the removal sequence over this host.
    void Run();

    Registry& registry() override { return registry_; }
    BootWitness& bootWitness() override { return noWitness_; }
    // Records the command and launches nothing: no exit code to act on.
    LaunchResult RunProgram(std::wstring_view commandLine, bool showNotice) override;
    void Pause(std::chrono::milliseconds /*duration*/) override {}
    QuestionAnswer AskQuestion(std::wstring_view text) override;
    void PostStatus(std::wstring_view /*text*/) override {}
    void AppendToLog(std::wstring_view /*text*/) override {}
    std::wstring CurrentTimestamp() override { return {}; }
    bool FileExists(std::wstring_view path) override { return Exists(path, false); }
    std::optional<std::wstring> EnvironmentVariable(std::wstring_view name) override;
    void SetPendingRenamesAside() override {}

    void OnProgramLine(const ProgramLineNote& note) override;
    void OnProductName(std::wstring_view productName, std::size_t line, bool finalPass) override;
    void OnCandidate(const CandidateNote& note) override;
    void OnMcAfeeCommand(const McAfeeCommand& command) override;
    void OnProventiaRemover(const ProventiaNote& note) override;
    void OnUninstall(const UninstallNote& note) override;
    void OnAgentRemover(const AgentRemoverNote& note) override;

private:
    NoBootWitness noWitness_;  // the preview moves nothing
    [[nodiscard]] bool Exists(std::wstring_view path, bool view32Bit) const;
    // Appends the item; the next RunProgram belongs to it when `runs`.
    void Record(PreviewItem item, bool runs);
    // An entry item of the product name being scanned.
    [[nodiscard]] PreviewItem EntryItem(std::wstring_view rootPath, bool view32Bit,
                                        std::wstring_view key, std::wstring_view displayName) const;
    void ListShortNameEntries(std::wstring_view productName);

    Registry& registry_;
    std::wstring_view config_;
    const PreviewOptions& options_;
    PreviewResult& result_;
    RemovalState state_;

    std::wstring productName_;  // the name being scanned
    std::size_t line_ = 0;      // ...its line
    bool finalPass_ = false;    // ...the McAfee SecurityCenter pass
    // Items whose UninstallProduct call is announced and not yet answered
    // (a candidate below its McAfee commands).
    std::vector<PreviewItem> announced_;
    std::optional<std::size_t> current_;  // the item the next RunProgram launches
    NameList met_;  // markers of the display names whose command was shown as run
};

}  // namespace clearon::check
