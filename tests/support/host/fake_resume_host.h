// A resume host for host tests that shares the removal host's registry and
// log, so a whole run sees one machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resume/resume_host.h"
#include "support/host/fake_removal_host.h"

namespace clearon::test {

class FakeResumeHost final : public ResumeHost {
public:
    explicit FakeResumeHost(FakeRemovalHost& machine) : machine_(machine) {}

    Registry& registry() override { return machine_.memory; }
    std::optional<std::wstring> ModulePath() override {
        return std::wstring(L"C:\\Tools\\Clearon.exe");
    }
    bool StartWithoutWaiting(std::wstring_view commandLine) override {
        started.emplace_back(commandLine);
        return true;
    }
    void Sleep(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); }
    void AppendToLog(std::wstring_view text) override { machine_.AppendToLog(text); }
    std::wstring CurrentTimestamp() override { return machine_.CurrentTimestamp(); }

    std::vector<std::wstring> started;
    std::vector<std::uint32_t> sleeps;

private:
    FakeRemovalHost& machine_;
};

}  // namespace clearon::test
