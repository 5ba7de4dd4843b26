// The run log's entries as a reader sorts them: each text of log_texts.h with
// the kind of entry it makes, where its field stands and how grave it is.
// ClearonCheck's reader builds its shapes and CMTrace severities from this one
// table, so a text Clearon writes and the text a reader looks for cannot
// drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "log/log_format.h"
#include "log/log_texts.h"

namespace clearon {

// The entry a line holds, by the text Clearon writes for it.
enum class EntryKind {
    Blank,
    ComputerName,  // untimestamped; or after a timestamp whose message never came
    Starting,
    Stopping,
    Removing,
    FailedToRemove,
    UserDeclined,
    AttemptingToRun,
    ExitCode,
    FailedToLaunch,
    CommandTooLong,
    ProgramNotFound,
    ProgramLookedUp,          // a program named without a folder, looked up; the next program is it
    ProgramNotInSafeFolders,  // such a program found nowhere Clearon may take it from: refused
    ProgramUserWritable,      // a program others than administrators can change: refused
    AegiraInstalled,
    AegiraNotInstalled,
    RestartRegistered,
    RestartNotRegistered,  // a RunOnce key refused it, or the command did not fit
    Skipped,               // a line, product, program or check Clearon left out
    WorkerNotStarted,      // the worker thread could not be created
    UserMessage,           // any other untimestamped line: a message put before the user
    Other,                 // any other timestamped line
};

// CMTrace's severities.
enum class LogSeverity {
    Information = 1,
    Warning = 2,
    Error = 3,
    ByExitCode,  // Information for an exit code of 0, Warning for any other
};

// Where an entry's field (a product, a command line, an exit code, a
// version) stands.
enum class EntryField {
    None,      // the text is the whole entry
    After,     // the field follows the text
    Between,   // the field stands between the text and `end`
    AfterEnd,  // the text, a detail, `end`, and then the field
};

// One entry as a reader knows it; `end` is the text after its field or
// detail, when one follows.
struct EntryShape {
    EntryKind kind;
    std::wstring_view text;
    EntryField field;
    LogSeverity severity;
    std::wstring_view end = {};
};

// An entry's text as it stands in a line: without the line end its writer
// appends.
[[nodiscard]] constexpr std::wstring_view WithoutLineEnd(std::wstring_view text) noexcept {
    return text.ends_with(kLineEnd) ? text.substr(0, text.size() - kLineEnd.size()) : text;
}

// Every entry Clearon writes, in the order a reader tries them. Entries of
// kind Other are Clearon's own notes that no report looks for; they are here
// for their severity. The configuration's own messages (config_file.h) are
// put before the user like kMsgNotEnoughDiskSpace and read as UserMessage.
inline constexpr std::array kLogEntries{
    // The lines every report is built on.
    EntryShape{EntryKind::Starting, kLogStarting, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Stopping, kLogStopping, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Removing, kLogRemoving, EntryField::After, LogSeverity::Information},
    EntryShape{EntryKind::FailedToRemove, kLogFailedToRemove, EntryField::After,
               LogSeverity::Error},
    EntryShape{EntryKind::UserDeclined, kLogUserDeclined, EntryField::After, LogSeverity::Warning},
    EntryShape{EntryKind::AttemptingToRun, kLogAttemptingToRun, EntryField::After,
               LogSeverity::Information},
    EntryShape{EntryKind::ExitCode, kLogExitCode, EntryField::After, LogSeverity::ByExitCode},
    EntryShape{EntryKind::FailedToLaunch, kLogFailedToLaunch, EntryField::None, LogSeverity::Error},
    EntryShape{EntryKind::CommandTooLong, kLogCommandTooLong, EntryField::After,
               LogSeverity::Warning},
    EntryShape{EntryKind::ProgramNotFound, kLogProgramNotFound, EntryField::After,
               LogSeverity::Warning},
    EntryShape{EntryKind::ProgramLookedUp, kLogProgramLookedUp, EntryField::After,
               LogSeverity::Information},
    EntryShape{EntryKind::ProgramNotInSafeFolders, kLogProgramNotInSafeFolders, EntryField::After,
               LogSeverity::Warning},
    EntryShape{EntryKind::AegiraNotInstalled, kLogAegiraNotInstalled, EntryField::None,
               LogSeverity::Warning},
    EntryShape{EntryKind::RestartRegistered, kLogAddedUserRunOnce, EntryField::None,
               LogSeverity::Information},
    EntryShape{EntryKind::RestartRegistered, kLogAddedMachineRunOnce, EntryField::None,
               LogSeverity::Information},
    EntryShape{EntryKind::RestartNotRegistered, kLogFailedUserRunOnce, EntryField::None,
               LogSeverity::Error},
    EntryShape{EntryKind::RestartNotRegistered, kLogFailedMachineRunOnce, EntryField::None,
               LogSeverity::Error},
    EntryShape{EntryKind::RestartNotRegistered, kLogResumeCommandRefused, EntryField::None,
               LogSeverity::Error},
    // "(<who may change what>): <command>"
    EntryShape{EntryKind::ProgramUserWritable, kLogProgramUserWritable, EntryField::AfterEnd,
               LogSeverity::Warning, kLogProgramUserWritableEnd},
    EntryShape{EntryKind::WorkerNotStarted, kLogWorkerNotStarted, EntryField::None,
               LogSeverity::Warning},
    EntryShape{EntryKind::AegiraInstalled, kLogAegira, EntryField::Between,
               LogSeverity::Information, kLogIsInstalled},

    // What Clearon left out.
    EntryShape{EntryKind::Skipped, kLogNotRemoving, EntryField::Between, LogSeverity::Warning,
               kLogUninstallCommandTooLong},
    EntryShape{EntryKind::Skipped, kLogNotRemoving, EntryField::Between, LogSeverity::Warning,
               kLogUninstallValueTooLong},
    EntryShape{EntryKind::Skipped, kLogProventiaPathTooLong, EntryField::None,
               LogSeverity::Warning},
    EntryShape{EntryKind::Skipped, kLogProductLineTooLong, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Skipped, kLogProgramLineTooLong, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Skipped, kLogInstallerTooLong, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Skipped, kLogMcAfeeEmptyBase, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Skipped, kLogUninstallPathTooLong, EntryField::None,
               LogSeverity::Warning},
    EntryShape{EntryKind::Skipped, kLogFreeSpaceUnknown, EntryField::None, LogSeverity::Warning},

    // Untimestamped.
    EntryShape{EntryKind::ComputerName, kLogComputerName, EntryField::After,
               LogSeverity::Information},
    EntryShape{EntryKind::UserMessage, kMsgNotEnoughDiskSpace, EntryField::None,
               LogSeverity::Warning},

    // Clearon's own notes.
    EntryShape{EntryKind::Other, kLogVersion, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogUnwrittenEntries, EntryField::Between,
               LogSeverity::Information, kLogUnwrittenEntriesEnd},
    EntryShape{EntryKind::Other, kLogEndedByUnexpectedError, EntryField::None,
               LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogRefusedLinkedLog, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogRefusedMovedLog, EntryField::Between, LogSeverity::Warning,
               kLogRefusedMovedLogEnd},
    EntryShape{EntryKind::Other, kLogPathTooLong, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogNobodySees, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogSessionZero, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogVisibilityUnknown, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogRunsWithoutDialog, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogNeedsPerson, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogDialogNotCreated, EntryField::Between, LogSeverity::Warning,
               kLogDialogRunsSilently},
    EntryShape{EntryKind::Other, kLogDialogNotCreated, EntryField::Between, LogSeverity::Warning,
               kLogDialogNeedsPerson},
    EntryShape{EntryKind::Other, kLogWaitingForOther, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogWaitedForOther, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogRunNameHeldBySomeoneElse, EntryField::None,
               LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogOtherRunTimeLimitPassed, EntryField::Between,
               LogSeverity::Information, kLogOtherRunTimeLimitEnd},
    // The setting's key, then why; the reasons are composed in the start-up.
    EntryShape{EntryKind::Other, kLogSettingIgnored, EntryField::After, LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogNoticeNotShown, EntryField::After, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogRunEndedByError, EntryField::None, LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogQuestionUnanswerable, EntryField::After,
               LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogSessionEnding, EntryField::None, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogSessionEndedNoPrograms, EntryField::None,
               LogSeverity::Information},
    // The name, " (<folder>)", kLogUserLocationSkippedFor, the SID, and then
    // kLogUserLocationSkippedWhy.
    EntryShape{EntryKind::Other, kLogUserLocationSkipped, EntryField::Between, LogSeverity::Warning,
               kLogUserLocationSkippedWhy},
    // The seconds, kLogInstallerBusySeconds, the product's name.
    EntryShape{EntryKind::Other, kLogInstallerBusy, EntryField::After, LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogInstallerStayedBusy, EntryField::After,
               LogSeverity::Information},
    EntryShape{EntryKind::Other, kLogTimeLimitPassed, EntryField::Between, LogSeverity::Information,
               kLogTimeLimitLeftRunning},
    // The Windows error, or who may change the folder, follows.
    EntryShape{EntryKind::Other, kLogEventMessageFileNotWritten, EntryField::After,
               LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogEventSourceNotRegistered, EntryField::None,
               LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogRunEventNotReported, EntryField::After, LogSeverity::Warning},
    EntryShape{EntryKind::Other, kLogRunEventUnexpectedError, EntryField::None,
               LogSeverity::Warning},
};

// Every kind a reader sorts a line into by its text has its entries, and
// they agree on its severity, so the kind alone says how grave a line is.
[[nodiscard]] constexpr bool EveryKindHasOneSeverity() noexcept {
    for (int k = 0; k <= static_cast<int>(EntryKind::Other); ++k) {
        const auto kind = static_cast<EntryKind>(k);
        if (kind == EntryKind::Blank || kind == EntryKind::Other) continue;
        bool found = false;
        LogSeverity severity = LogSeverity::Information;
        for (const EntryShape& entry : kLogEntries) {
            if (entry.kind != kind) continue;
            if (found && entry.severity != severity) return false;
            found = true;
            severity = entry.severity;
        }
        if (!found) return false;
    }
    return true;
}
static_assert(EveryKindHasOneSeverity());

}  // namespace clearon
