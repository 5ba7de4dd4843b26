#include "startup/startup_rules.h"

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

std::wstring RefusedSettingLogLine(std::wstring_view key) {
    return L" Ignored the setting " + std::wstring(key) +
           L": its line or value is longer than 254 characters.\r\n";
}

}  // namespace clearon
