#include "startup/startup_rules.h"

#include "config/settings.h"

namespace clearon {

std::wstring ExeDirectoryFromModulePath(std::wstring_view modulePath) {
    const std::size_t lastBackslash = modulePath.rfind(L'\\');
    if (lastBackslash == std::wstring_view::npos) return {};
    return std::wstring(modulePath.substr(0, lastBackslash));
}

std::wstring AsDirectoryPath(std::wstring_view directory) {
    std::wstring path(directory);
    if (path.size() == 2 && path[1] == L':') path.push_back(L'\\');
    return path;
}

int ExitCodeOfRun(std::int32_t failureCount, int startResult) noexcept {
    return failureCount > 0 ? 1 : startResult;
}

StartMode DecideStartMode(bool showGui, bool autoRun, bool personCanSee) noexcept {
    if (!showGui) return StartMode::Silent;
    if (personCanSee) return StartMode::Dialog;
    return autoRun ? StartMode::SilentNobodySees : StartMode::NeedsPerson;
}

MessageSink MessageSinkFor(bool silent, bool personCanSee) noexcept {
    if (silent) return MessageSink::StandardOutput;
    return personCanSee ? MessageSink::Box : MessageSink::LogOnly;
}

std::wstring RefusedSettingLogLine(std::wstring_view key) {
    if (key == kKeyProgramTimeLimit) {
        return L" Ignored the setting " + std::wstring(key) +
               L": its value is not a number of minutes from 0 to " +
               std::to_wstring(kMaxProgramTimeLimit) +
               L"; programs are waited for without a limit.\r\n";
    }
    return L" Ignored the setting " + std::wstring(key) +
           L": its line or value is longer than 254 characters.\r\n";
}

}  // namespace clearon
