// The removal host on a real machine: the system registry, the program
// runner, the "Question" box, the dialog's status line, the run log, file
// attributes and the process environment.
#pragma once

#include "removal/removal_host.h"

namespace clearon {

class WindowsRemovalHost final : public RemovalHost {
public:
    Registry& registry() override;
    void RunProgram(std::wstring_view commandLine, bool showNotice) override;
    QuestionAnswer AskQuestion(std::wstring_view text) override;
    void PostStatus(std::wstring_view text) override;
    void AppendToLog(std::wstring_view text) override;
    std::wstring CurrentTimestamp() override;
    bool FileExists(std::wstring_view path) override;
    std::optional<std::wstring> EnvironmentVariable(std::wstring_view name) override;
};

}  // namespace clearon
