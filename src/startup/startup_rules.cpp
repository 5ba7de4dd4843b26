#include "startup/startup_rules.h"

#include "config/settings.h"
#include "log/log_texts.h"

namespace clearon {

std::wstring ExeDirectoryFromModulePath(std::wstring_view modulePath) {
    const std::size_t lastBackslash = modulePath.rfind(L'\\');
    if (lastBackslash == std::wstring_view::npos) return {};
    return std::wstring(modulePath.substr(0, lastBackslash));
}

int ExitCodeOfRun(std::int32_t failureCount, int startResult) noexcept {
    return failureCount > 0 ? 1 : startResult;
}

Visibility DecideVisibility(std::optional<std::uint32_t> sessionId,
                            std::optional<bool> stationVisible) noexcept {
    if (sessionId == 0u) return Visibility::SessionZero;
    if (!stationVisible) return Visibility::QueryFailed;
    return *stationVisible ? Visibility::Seen : Visibility::StationNotVisible;
}

std::wstring_view VisibilityLogLine(Visibility visibility) noexcept {
    switch (visibility) {
        case Visibility::SessionZero:
            return kLogSessionZero;
        case Visibility::QueryFailed:
            return kLogVisibilityUnknown;
        case Visibility::Seen:
        case Visibility::StationNotVisible:
            break;
    }
    return {};
}

bool IsRunNameOwnerTrusted(std::wstring_view ownerSid) noexcept {
    return ownerSid == L"S-1-5-18" || ownerSid == L"S-1-5-32-544";
}

std::wstring RefusedSettingLogLine(std::wstring_view key) {
    std::wstring line = std::wstring(kLogSettingIgnored) + std::wstring(key);
    if (key == kKeyProgramTimeLimit) {
        return line + std::wstring(kLogSettingNotMinutes) + std::to_wstring(kMaxProgramTimeLimit) +
               std::wstring(kLogSettingProgramsUnlimited);
    }
    if (key == kKeyOtherRunTimeLimit) {
        return line + std::wstring(kLogSettingNotMinutes) + std::to_wstring(kMaxProgramTimeLimit) +
               std::wstring(kLogSettingOtherRunWaited) +
               std::to_wstring(kDefaultOtherRunTimeLimit) +
               std::wstring(kLogSettingOtherRunWaitedEnd);
    }
    return line + std::wstring(kLogSettingTooLong);
}

}  // namespace clearon
