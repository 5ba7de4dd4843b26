// A removal host for host tests: an in-memory registry, a scripted person
// answering the "Question" box, a recorder of launched programs and status
// texts, and a log kept as one string. A launched program can be given a
// behaviour (typically: delete its own uninstall key) so the logic around it
// sees what a real uninstaller would leave behind.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "removal/removal_host.h"
#include "support/host/memory_boot_witness.h"
#include "support/host/memory_registry.h"

namespace clearon::test {

class FakeRemovalHost final : public RemovalHost {
public:
    MemoryRegistry memory;
    std::wstring log;
    std::vector<std::wstring> statuses;
    struct Launch {
        std::wstring commandLine;
        bool showNotice = false;
    };
    std::vector<Launch> launches;
    // Programs that cannot be started, by a piece of their command line.
    std::vector<std::wstring> failsToStart;
    std::vector<std::wstring> questions;
    // Answers given in order; once they run out, `defaultAnswer` is given.
    std::vector<QuestionAnswer> answers;
    QuestionAnswer defaultAnswer = QuestionAnswer::Yes;
    std::set<std::wstring> files;  // existing files (compared exactly)
    std::map<std::wstring, std::wstring> environment;
    // What a launched program does, by a piece of its command line.
    std::vector<std::pair<std::wstring, std::function<void(FakeRemovalHost&)>>> behaviours;

    Registry& registry() override { return memory; }
    // Files only its moves create; a stopped world creates and removes none.
    MemoryBootWitness witness{&memory};
    BootWitness& bootWitness() override { return witness; }
    // Exit codes the launched programs answer, in order; once they run out,
    // 0 is answered.
    std::vector<std::uint32_t> exitCodes;
    std::vector<std::chrono::milliseconds> pauses;

    LaunchResult RunProgram(std::wstring_view commandLine, bool showNotice) override;
    void Pause(std::chrono::milliseconds duration) override { pauses.push_back(duration); }
    QuestionAnswer AskQuestion(std::wstring_view text) override;
    void PostStatus(std::wstring_view text) override { statuses.emplace_back(text); }
    // A log append is a change like a registry write: a stopped world
    // refuses it.
    void AppendToLog(std::wstring_view text) override {
        if (!memory.mayChange || memory.mayChange()) log.append(text);
    }
    // The end-of-session notice as this process has seen it.
    bool sessionEnded = false;
    bool SessionEnded() override { return sessionEnded; }
    std::wstring CurrentTimestamp() override { return L"TS"; }
    bool FileExists(std::wstring_view path) override { return files.count(std::wstring(path)) > 0; }
    std::optional<std::wstring> EnvironmentVariable(std::wstring_view name) override;

    // Makes every program whose command line contains `piece` delete `key`
    // under HKEY_LOCAL_MACHINE when it runs.
    void RemovesKey(const std::wstring& piece, const std::wstring& key);
    [[nodiscard]] std::vector<std::wstring> LaunchedCommands() const;
};

}  // namespace clearon::test
