// The machine behind the reboot-and-resume logic: the real registry, the
// executable's path, CreateProcessW, Sleep and the run log.
#pragma once

#include "resume/resume_host.h"

namespace clearon {

class WindowsResumeHost final : public ResumeHost {
public:
    Registry& registry() override;
    std::optional<std::wstring> ModulePath() override;
    bool StartWithoutWaiting(std::wstring_view commandLine) override;
    void Sleep(std::uint32_t milliseconds) override;
    void AppendToLog(std::wstring_view text) override;
    std::wstring CurrentTimestamp() override;
};

// The process-wide instance the tool uses.
[[nodiscard]] ResumeHost& SystemResumeHost() noexcept;

}  // namespace clearon
