// The program runner's log texts, for the log reader. They are reached
// through a translation unit of their own because removal/command_line.h and
// resume/reboot_resume.h cannot be included together: both define
// clearon::kMaxCommandLength.
#pragma once

#include <string_view>

namespace clearon::check {

struct RunnerLogTexts {
    std::wstring_view attemptingToRun;
    std::wstring_view exitCode;
    std::wstring_view failedToLaunch;
    std::wstring_view commandTooLong;
};
[[nodiscard]] RunnerLogTexts RunnerTexts() noexcept;

}  // namespace clearon::check
