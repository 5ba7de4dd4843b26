// The removal host on a real machine: the system registry, the program
// runner, the "Question" box, the dialog's status line, the run log, file
// attributes and the process environment.
#pragma once

#include <string>
#include <vector>

#include "platform/windows_security.h"
#include "removal/removal_host.h"

namespace clearon {

// What the host is told once, when the run starts.
struct WindowsRemovalHostOptions {
    std::uint32_t programTimeLimit = 0;  // minutes per program tree; 0: no limit
    // Nobody can see a window (a window station that is not visible): the
    // question is answered as its default button would be, and logged.
    bool nobodyCanAnswer = false;
    // AllowUserWritablePrograms: programs are run whoever may change them.
    bool allowUserWritablePrograms = false;
    std::vector<std::wstring> allowedWriterSids;  // AllowedWriterSids
};

class WindowsRemovalHost final : public RemovalHost {
public:
    WindowsRemovalHost() = default;
    explicit WindowsRemovalHost(const WindowsRemovalHostOptions& options) : options_(options) {}

    Registry& registry() override;
    BootWitness& bootWitness() override;
    LaunchResult RunProgram(std::wstring_view commandLine, bool showNotice) override;
    void Pause(std::chrono::milliseconds duration) override;
    QuestionAnswer AskQuestion(std::wstring_view text) override;
    void PostStatus(std::wstring_view text) override;
    void AppendToLog(std::wstring_view text) override;
    std::wstring CurrentTimestamp() override;
    bool FileExists(std::wstring_view path) override;
    std::optional<std::wstring> EnvironmentVariable(std::wstring_view name) override;
    void SetPendingRenamesAside() override;
    bool SessionEnded() override;

private:
    WindowsRemovalHostOptions options_;
    WindowsSecurityReader securityReader_;
};

}  // namespace clearon
