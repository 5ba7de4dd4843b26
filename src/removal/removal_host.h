// Everything the removal logic asks of the machine, behind one small
// interface: the registry, launching a program and waiting for its process
// tree, the "Question" box, status texts, the log, files and environment
// variables. The Windows implementation (startup/windows_removal_host.h) forwards to
// the real thing; host tests drive the same logic with an in-memory stand-in,
// faults included; ClearonCheck's preview records what the run would do.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "removal/launch_result.h"
#include "removal/removal_notes.h"
#include "resume/pending_renames.h"

namespace clearon {

enum class QuestionAnswer { Yes, No, Failed };

class RemovalHost {
public:
    virtual ~RemovalHost() = default;

    [[nodiscard]] virtual Registry& registry() = 0;
    // The witnesses of the pending-renames moves (boot_witness.h).
    [[nodiscard]] virtual BootWitness& bootWitness() = 0;

    // Launches `commandLine`, waits for its whole process tree and logs the
    // attempt and the exit code. While `scanning32BitView` is set in the
    // run's state, the runner redirects the command to the 32-bit system
    // directory. Returns whether the program was started and its exit code;
    // no exit code when ProgramTimeLimit passed before the tree ended (the
    // tree is then left running).
    virtual LaunchResult RunProgram(std::wstring_view commandLine, bool showNotice) = 0;

    // Waits `duration`: the pause before a busy Windows Installer is tried again.
    virtual void Pause(std::chrono::milliseconds duration) = 0;

    // The Yes/No box captioned "Question", shown in every mode.
    [[nodiscard]] virtual QuestionAnswer AskQuestion(std::wstring_view text) = 0;

    // A status text for the main dialog; nothing happens in a silent run.
    virtual void PostStatus(std::wstring_view text) = 0;

    // Appends raw text to the run log, and the current timestamp.
    virtual void AppendToLog(std::wstring_view text) = 0;
    [[nodiscard]] virtual std::wstring CurrentTimestamp() = 0;

    // Does the file exist (GetFileAttributesW does not fail)?
    [[nodiscard]] virtual bool FileExists(std::wstring_view path) = 0;

    // An environment variable's value; nothing when it is not defined.
    [[nodiscard]] virtual std::optional<std::wstring> EnvironmentVariable(
        std::wstring_view name) = 0;

    // Before each configured program: the system's pending file renames are
    // set aside (pending_renames.h).
    virtual void SetPendingRenamesAside() {
        ::clearon::SetPendingRenamesAside(registry(), bootWitness());
    }

    // Has Windows told this process that the session ends? From then on the
    // run sets nothing aside and starts no further program.
    [[nodiscard]] virtual bool SessionEnded() { return false; }

    // The run's decisions, step by step (removal_notes.h). Only a host that
    // records instead of acting needs them.
    virtual void OnProgramLine(const ProgramLineNote& /*note*/) {}
    // Before each [ProductNames] line is scanned, and before the final McAfee
    // SecurityCenter pass (line 0, finalPass).
    virtual void OnProductName(std::wstring_view /*productName*/, std::size_t /*line*/,
                               bool /*finalPass*/) {}
    virtual void OnCandidate(const CandidateNote& /*note*/) {}
    virtual void OnMcAfeeCommand(const McAfeeCommand& /*command*/) {}
    virtual void OnProventiaRemover(const ProventiaNote& /*note*/) {}
    virtual void OnUninstall(const UninstallNote& /*note*/) {}
    virtual void OnAgentRemover(const AgentRemoverNote& /*note*/) {}

    // A timestamped log line: the timestamp, then `message` (which begins
    // with a space and ends with "\r\n"), in one append, so a run cut short
    // never leaves a timestamp without its message.
    void LogLine(std::wstring_view message) {
        std::wstring entry = CurrentTimestamp();
        entry += message;
        AppendToLog(entry);
    }
};

}  // namespace clearon
