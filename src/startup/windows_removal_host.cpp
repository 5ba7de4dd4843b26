#include "startup/windows_removal_host.h"

#include <windows.h>

#include <string>

#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/windows_registry.h"
#include "removal/program_runner.h"
#include "resume/windows_boot_witness.h"
#include "platform/platform_info.h"
#include "platform/run_state.h"
#include "startup/run_context.h"
#include "ui/notice_dialog.h"
#include "ui/session_end.h"
#include "ui/status_message.h"

namespace clearon {
namespace {

constexpr wchar_t kQuestionCaption[] = L"Question";

// The hidden notice dialog of Clearon.exe's own resources.
bool NoticeOfThisProcess() noexcept {
    return RunNoticePause(g_runState.instanceHandle);
}

}  // namespace

Registry& WindowsRemovalHost::registry() {
    return SystemRegistry();
}

BootWitness& WindowsRemovalHost::bootWitness() {
    return SystemBootWitness();
}

LaunchResult WindowsRemovalHost::RunProgram(std::wstring_view commandLine, bool showNotice) {
    // The account is read for each program: it is the same for the whole
    // run, and one token query is nothing beside a launch.
    const RightsPolicy rights{securityReader_,
                              TrustedWriters{CurrentAccountSid(), options_.allowedWriterSids}};
    // Read once: the flag belongs to the discovery around this call.
    return ::clearon::RunProgram(
        commandLine, g_removalState.scanning32BitView, showNotice ? NoticeOfThisProcess : nullptr,
        options_.programTimeLimit, options_.allowUserWritablePrograms ? nullptr : &rights);
}

void WindowsRemovalHost::Pause(std::chrono::milliseconds duration) {
    Sleep(static_cast<DWORD>(duration.count()));
}

QuestionAnswer WindowsRemovalHost::AskQuestion(std::wstring_view text) {
    if (options_.nobodyCanAnswer) {
        // A box on a window station nobody sees would wait for ever. Yes is
        // the box's default button, which is what Enter would choose.
        std::wstring line(kLogQuestionUnanswerable);
        line.append(text);
        line.append(L"\r\n");
        LogLine(line);
        return QuestionAnswer::Yes;
    }
    const std::wstring terminated(text);
    // Owned by the main dialog when there is one; shown in every mode, a
    // console run included, since nobody may be removed without an answer.
    switch (MessageBoxW(g_runState.mainWindow, terminated.c_str(), kQuestionCaption,
                        MB_YESNO | MB_ICONQUESTION)) {
        case IDYES:
            return QuestionAnswer::Yes;
        case IDNO:
            return QuestionAnswer::No;
        default:
            return QuestionAnswer::Failed;
    }
}

void WindowsRemovalHost::PostStatus(std::wstring_view text) {
    ::clearon::PostStatus(text);
}

void WindowsRemovalHost::AppendToLog(std::wstring_view text) {
    ::clearon::AppendToLog(text);
}

std::wstring WindowsRemovalHost::CurrentTimestamp() {
    return ::clearon::CurrentTimestamp();
}

bool WindowsRemovalHost::FileExists(std::wstring_view path) {
    const std::wstring terminated(path);
    return GetFileAttributesW(terminated.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::wstring> WindowsRemovalHost::EnvironmentVariable(std::wstring_view name) {
    // The start-up reader: a value that does not fit its 255-character buffer
    // reads as undefined, never cut.
    return ::clearon::EnvironmentVariable(name);
}

void WindowsRemovalHost::SetPendingRenamesAside() {
    SetPendingRenamesAsideUnlessSessionEnds();
}

bool WindowsRemovalHost::SessionEnded() {
    return SessionEndAnnounced();
}

}  // namespace clearon
