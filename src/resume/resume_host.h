// What the reboot-and-resume logic asks of the machine beyond the registry:
// the executable's own path, starting a process without waiting for it, a
// pause, and the run log. The Windows implementation is in
// windows_resume_host.h; host tests use a stand-in that records everything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace clearon {

class ResumeHost {
public:
    virtual ~ResumeHost() = default;

    [[nodiscard]] virtual Registry& registry() = 0;

    // The full path of the running executable; nothing when it cannot be
    // read whole.
    [[nodiscard]] virtual std::optional<std::wstring> ModulePath() = 0;

    // Starts `commandLine` and does not wait for it; true when it started.
    [[nodiscard]] virtual bool StartWithoutWaiting(std::wstring_view commandLine) = 0;

    virtual void Sleep(std::uint32_t milliseconds) = 0;

    // Appends raw text to the run log, and the current timestamp.
    virtual void AppendToLog(std::wstring_view text) = 0;
    [[nodiscard]] virtual std::wstring CurrentTimestamp() = 0;

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
