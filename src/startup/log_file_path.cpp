#include "startup/log_file_path.h"

#include <optional>
#include <string>

#include "config/settings.h"
#include "log/log_format.h"
#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/platform_info.h"
#include "platform/run_state.h"
#include "startup/run_context.h"

namespace clearon {

void BuildLogFilePath(LogFileStart start) {
    const std::wstring directory =
        LogDirectoryFromSetting(GetSectionValue(g_configText, kKeyLogPath), g_runState.exeDirectory,
                                [](std::wstring_view name) { return EnvironmentVariable(name); });
    const std::optional<std::wstring> computerName = ComputerName();
    g_runState.logFilePath = ComposeLogFilePath(directory, computerName);

    if (start == LogFileStart::ComputerNameLine) {
        // This run's log, held from its first line to its last.
        HoldRunLog();
        if (computerName) {
            AppendToLog(std::wstring(kLogComputerName) + *computerName + std::wstring(kLineEnd));
        }
    }
    if (g_runState.logFilePath.empty()) LogTimestamped(kLogPathTooLong);
}

}  // namespace clearon
