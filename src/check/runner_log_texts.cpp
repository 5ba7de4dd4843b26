#include "check/runner_log_texts.h"

#include "removal/command_line.h"

namespace clearon::check {

RunnerLogTexts RunnerTexts() noexcept {
    return {kLogAttemptingToRun, kLogExitCode, kLogFailedToLaunch, kLogCommandTooLong};
}

}  // namespace clearon::check
