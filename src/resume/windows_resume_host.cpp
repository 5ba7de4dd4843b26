#include "resume/windows_resume_host.h"

#include <windows.h>

#include "log/run_log.h"
#include "platform/handles.h"
#include "platform/windows_registry.h"
#include "platform/platform_info.h"

namespace clearon {
Registry& WindowsResumeHost::registry() {
    return SystemRegistry();
}

std::optional<std::wstring> WindowsResumeHost::ModulePath() {
    // The path is read whole, whatever its length; the commands built from it
    // decide whether it fits them.
    std::wstring path = ::clearon::ModulePath();
    if (path.empty()) return std::nullopt;
    return path;
}

bool WindowsResumeHost::StartWithoutWaiting(std::wstring_view commandLine) {
    // CreateProcessW may write into the command line, so it gets a copy.
    std::wstring mutableCommand(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr,                // program: the first token of the command line
                        mutableCommand.data(),  // the whole command, unquoted path as registered
                        nullptr,                // default process security
                        nullptr,                // default thread security
                        TRUE,                   // inherit: it keeps our standard handles
                        CREATE_NO_WINDOW,       // no console for a GUI tool
                        nullptr,                // our environment
                        nullptr,                // our current directory
                        &startup, &info)) {
        return false;
    }
    // Nothing waits for the new instance: its handles are closed at once.
    UniqueProcessInformation owned;
    owned.Adopt(info);
    return true;
}

void WindowsResumeHost::Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void WindowsResumeHost::AppendToLog(std::wstring_view text) {
    clearon::AppendToLog(text);
}

std::wstring WindowsResumeHost::CurrentTimestamp() {
    return clearon::CurrentTimestamp();
}

ResumeHost& SystemResumeHost() noexcept {
    static WindowsResumeHost host;
    return host;
}

}  // namespace clearon
