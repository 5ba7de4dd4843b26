// Every text Clearon writes to its run log (and to the error log beside the
// executable), by the part of Clearon that writes it. These texts are the
// contract with whatever reads a run: ClearonCheck's report, result, deploy
// and log, and every administrator's own script that searches the log. So
// each is defined once, here, and never changed lightly.
//
// A text that ends an entry carries its line end; a text that a field
// follows (a product, a command line, an exit code) does not, and its
// writer appends the field and then the line end, or the text named as the
// entry's end. Timestamped entries begin with a blank after the timestamp.
// log_entries.h pairs each with the kind a reader sorts it into.
#pragma once

#include <string_view>

namespace clearon {

// ---- The run's frame (log) -------------------------------------------------

inline constexpr std::wstring_view kLogStarting = L" Clearon starting!\r\n";
inline constexpr std::wstring_view kLogStopping = L" Clearon stopping!\r\n";
// The untimestamped first line of a run: the computer's name follows.
inline constexpr std::wstring_view kLogComputerName = L"Computer Name: ";
// Follows the start line once per run; the number comes from the build.
inline constexpr std::wstring_view kLogVersion = L" Clearon version " CLEARON_VERSION_TEXT L"\r\n";

// The line before the stop line of a run that could not write every entry
// to its run log (a full disk, a short write, a network handle that died):
// kLogUnwrittenEntries, the number, kLogUnwrittenEntriesEnd.
inline constexpr std::wstring_view kLogUnwrittenEntries =
    L" Entries this run could not write to its run log: ";
inline constexpr std::wstring_view kLogUnwrittenEntriesEnd =
    L" (each went to Clearon_Err.log where that could be written).\r\n";

// Logged first (without a stop line: the run did not finish) when an
// unexpected error, such as running out of memory, reaches the entry point.
inline constexpr std::wstring_view kLogEndedByUnexpectedError =
    L" Clearon ended early: an unexpected error reached its start-up (exit code 1359).\r\n";

// Written to the error log, once per process, when the run log is refused.
inline constexpr std::wstring_view kLogRefusedLinkedLog =
    L" Not writing to the run log: it is a link or has more than one name.\r\n";
// Written there, once, when a link in the log's path leads elsewhere; the
// target follows, then kLogRefusedMovedLogEnd.
inline constexpr std::wstring_view kLogRefusedMovedLog =
    L" Not writing to the run log: a link in its path leads to ";
inline constexpr std::wstring_view kLogRefusedMovedLogEnd =
    L"; name that place in LogPath to log there.\r\n";

// ---- Start-up ----------------------------------------------------------------

// Logged (to the error log, since the run log then has no path) when the
// composed path does not fit the 254-character field.
inline constexpr std::wstring_view kLogPathTooLong =
    L" The log file path is longer than 254 characters; this run logs to Clearon_Err.log.\r\n";

// Where nobody can see a window, after the version line; one of the next
// two may follow it to name the case.
inline constexpr std::wstring_view kLogNobodySees =
    L" Nobody can see a window on this window station: boxes are logged instead of shown, and "
    L"the removal question takes its default answer.\r\n";
inline constexpr std::wstring_view kLogSessionZero =
    L" This start runs in session 0, where no person's desktop is, whatever its window station "
    L"reports.\r\n";
inline constexpr std::wstring_view kLogVisibilityUnknown =
    L" Whether anybody can see this window station could not be read; nobody is assumed to.\r\n";

inline constexpr std::wstring_view kLogRunsWithoutDialog =
    L" The dialog is left out, since nobody can see it; AutoRunAfterUILoads=Y, so the run goes "
    L"ahead silently.\r\n";
inline constexpr std::wstring_view kLogNeedsPerson =
    L" ShowGUI=Y without AutoRunAfterUILoads=Y needs a person to press Start, and nobody can see "
    L"the dialog; nothing was done (exit code 1459).\r\n";
// Windows' error code goes between kLogDialogNotCreated and one of its ends.
inline constexpr std::wstring_view kLogDialogNotCreated =
    L" The dialog could not be created (error ";
inline constexpr std::wstring_view kLogDialogRunsSilently =
    L"); AutoRunAfterUILoads=Y, so the run goes ahead without it.\r\n";
inline constexpr std::wstring_view kLogDialogNeedsPerson =
    L"); nothing can press Start, so nothing was done (exit code 1459).\r\n";

// One run at a time on a machine, whatever the session.
inline constexpr std::wstring_view kLogWaitingForOther =
    L" Another Clearon is running on this machine; this one waits for it to end.\r\n";
inline constexpr std::wstring_view kLogWaitedForOther =
    L" This run waited for another Clearon to end before it began.\r\n";
// Logged before the wait when the name belongs to neither SYSTEM nor the
// Administrators: an ordinary user made it first. The wait and its limit
// stay the same.
inline constexpr std::wstring_view kLogRunNameHeldBySomeoneElse =
    L" Global\\Clearon.Run is held by someone else: its owner is neither SYSTEM nor the "
    L"Administrators.\r\n";
// When OtherRunTimeLimit passes: the limit in minutes goes between the two.
inline constexpr std::wstring_view kLogOtherRunTimeLimitPassed =
    L" Another Clearon still runs after OtherRunTimeLimit=";
inline constexpr std::wstring_view kLogOtherRunTimeLimitEnd =
    L" minutes; this start ends with 1618 (retry later), having changed nothing.\r\n";

// A setting whose value Clearon refused: the key follows kLogSettingIgnored,
// then the reason; a limit in minutes is named between its two texts.
inline constexpr std::wstring_view kLogSettingIgnored = L" Ignored the setting ";
inline constexpr std::wstring_view kLogSettingNotMinutes =
    L": its value is not a number of minutes from 0 to ";
inline constexpr std::wstring_view kLogSettingProgramsUnlimited =
    L"; programs are waited for without a limit.\r\n";
inline constexpr std::wstring_view kLogSettingOtherRunWaited =
    L"; another run is waited for at most ";
inline constexpr std::wstring_view kLogSettingOtherRunWaitedEnd = L" minutes.\r\n";
inline constexpr std::wstring_view kLogSettingTooLong =
    L": its line or value is longer than 254 characters.\r\n";

// The free-space check. Logged when the free space cannot be read; the start
// goes on: claiming a full disk on the strength of a failed query would stop
// a deployment on a healthy machine.
inline constexpr std::wstring_view kLogFreeSpaceUnknown =
    L" Could not read the free space of the system drive; the disk space check was skipped.\r\n";
// Put before the user, and into the log untimestamped, when the start ends
// for too little free space (kExitNotEnoughDiskSpace).
inline constexpr std::wstring_view kMsgNotEnoughDiskSpace =
    L"Not enough disk space on the system drive.";

// The worker thread of a run could not be created: nothing ran, and a later
// run may well start it, so Clearon ends with this retryable code. Written
// timestamped like every other entry; older versions wrote it untimestamped,
// without its blank and with a bare LF.
inline constexpr std::wstring_view kLogWorkerNotStarted =
    L" Could not create the Clearon thread.\r\n";
inline constexpr int kExitWorkerNotStarted = 155;

// The notice's text follows, then a line end.
inline constexpr std::wstring_view kLogNoticeNotShown =
    L" Nobody can see the notice, so it is logged and not shown: ";
// Logged when an unexpected error, such as running out of memory, ends the
// worker's run early; the process goes on to its end.
inline constexpr std::wstring_view kLogRunEndedByError =
    L" The removal run stopped early: an unexpected error ended it.\r\n";
// The question follows, then a line end.
inline constexpr std::wstring_view kLogQuestionUnanswerable =
    L" Nobody can see a window here, so the question is answered Yes, its default button: ";

// ---- The dialog (ui) ---------------------------------------------------------

inline constexpr std::wstring_view kLogSessionEnding =
    L" Windows is ending the session: the pending file renames were put back.\r\n";

// ---- Products (removal) ------------------------------------------------------

inline constexpr std::wstring_view kLogRemoving = L" Removing: ";
inline constexpr std::wstring_view kLogFailedToRemove = L" Failed to remove ";
inline constexpr std::wstring_view kLogUserDeclined = L" User chose not to remove: ";
// The product's name follows, then one of the reasons below.
inline constexpr std::wstring_view kLogNotRemoving = L" Not removing ";
inline constexpr std::wstring_view kLogUninstallCommandTooLong =
    L": its uninstall command would be longer than 511 characters.\r\n";
inline constexpr std::wstring_view kLogUninstallValueTooLong =
    L": its stored uninstall command is longer than 254 characters.\r\n";
inline constexpr std::wstring_view kLogProventiaPathTooLong =
    L" Not removing Proventia Desktop: the path of AgentRemove.exe is longer than 254 "
    L"characters.\r\n";

inline constexpr std::wstring_view kLogProductLineTooLong =
    L" Skipping a [ProductNames] line longer than 254 characters.\r\n";
inline constexpr std::wstring_view kLogUninstallPathTooLong =
    L" Skipping an [UninstallPaths] line longer than 254 characters.\r\n";
// Logged once per McAfee entry whose candidates were left out: an empty base
// folder would make them paths at the root of the current drive, where any
// user may create folders.
inline constexpr std::wstring_view kLogMcAfeeEmptyBase =
    L" Skipping McAfee component files whose folder is not known (no InstallLocation, "
    L"\"Install Dir\" or CommonProgramFiles).\r\n";

// A per-user registration's InstallLocation is the user's to choose: logged
// as " Not using the InstallLocation of <name> (<folder>): it is registered
// for user <SID>, and only ...".
inline constexpr std::wstring_view kLogUserLocationSkipped = L" Not using the InstallLocation of ";
inline constexpr std::wstring_view kLogUserLocationSkippedFor = L": it is registered for user ";
inline constexpr std::wstring_view kLogUserLocationSkippedWhy =
    L", and only the machine's registrations (S-1-5-18) may name a folder Clearon runs "
    L"programs from or hands to one.\r\n";

// Windows Installer answered 1618: the pause in seconds goes between the
// first two texts, the product's name after them; the name follows the last.
inline constexpr std::wstring_view kLogInstallerBusy =
    L" Windows Installer is busy with another installation (1618); trying again in ";
inline constexpr std::wstring_view kLogInstallerBusySeconds = L" seconds: ";
inline constexpr std::wstring_view kLogInstallerStayedBusy =
    L" Windows Installer stayed busy (1618) for the whole retry time; giving up: ";

// ---- Programs (removal) ------------------------------------------------------

// The command line follows each of these but the launch failure.
inline constexpr std::wstring_view kLogAttemptingToRun = L" Attempting to run: ";
inline constexpr std::wstring_view kLogFailedToLaunch = L" Failed to launch process!\r\n";
inline constexpr std::wstring_view kLogExitCode = L" Exit code: ";
inline constexpr std::wstring_view kLogCommandTooLong =
    L" Not running a command longer than 511 characters: ";
// Ends the part of a refused command that the line shows.
inline constexpr std::wstring_view kLogCommandCutMark = L"...";
inline constexpr std::wstring_view kLogProgramNotFound =
    L" Not running a command whose program path holds a blank and names no existing file: ";
inline constexpr std::wstring_view kLogProgramNotInSafeFolders =
    L" Not running a program found neither beside Clearon.exe nor in the system folders: ";
// Who may change what goes between the two texts; the command follows.
inline constexpr std::wstring_view kLogProgramUserWritable =
    L" Not running a program that others than administrators can change (";
inline constexpr std::wstring_view kLogProgramUserWritableEnd = L"): ";
// Before the launch of a program named without a folder: the name, and then
// the attempt line shows the full path found.
inline constexpr std::wstring_view kLogProgramLookedUp =
    L" Looked up beside Clearon.exe and in the system folders: ";
// The limit in minutes goes between the two.
inline constexpr std::wstring_view kLogTimeLimitPassed = L" Stopped waiting: ProgramTimeLimit of ";
inline constexpr std::wstring_view kLogTimeLimitLeftRunning =
    L" minutes passed; the program is left running.\r\n";

inline constexpr std::wstring_view kLogProgramLineTooLong =
    L" Skipping a program line longer than 254 characters.\r\n";
inline constexpr std::wstring_view kLogInstallerTooLong =
    L" Not running Aegira's installer: with Clearon's arguments its command would be longer "
    L"than 254 characters.\r\n";
inline constexpr std::wstring_view kLogSessionEndedNoPrograms =
    L" Windows is ending the session: no further program is started and nothing is set "
    L"aside.\r\n";

// ---- Aegira and the restart (resume) -----------------------------------------

// Aegira's version goes between the two.
inline constexpr std::wstring_view kLogAegira = L" Aegira ";
inline constexpr std::wstring_view kLogIsInstalled = L" is installed.\r\n";
inline constexpr std::wstring_view kLogAegiraNotInstalled = L" Aegira is NOT installed.\r\n";
inline constexpr std::wstring_view kLogAddedUserRunOnce =
    L" Added tool to current user's RunOnce key, please reboot to run tool again.\r\n";
inline constexpr std::wstring_view kLogFailedUserRunOnce =
    L" Failed to add tool to current user's RunOnce key.\r\n";
inline constexpr std::wstring_view kLogAddedMachineRunOnce =
    L" Added tool to local system RunOnce key, please reboot to run tool again.\r\n";
inline constexpr std::wstring_view kLogFailedMachineRunOnce =
    L" Failed to add tool to local system RunOnce key.\r\n";
inline constexpr std::wstring_view kLogResumeCommandRefused =
    L" The resume command does not fit in 254 characters; the tool was not added to a RunOnce "
    L"key.\r\n";

// ---- The run's Application event (start-up) -----------------------------------

// One line in the run log (or the error log) for each step that failed;
// the event never changes the exit code. The reason (a Windows error
// number, or who may change the folder) follows the first two texts, then
// kLineEnd.
inline constexpr std::wstring_view kLogEventMessageFileNotWritten =
    L" Clearon's event message file was not written: ";
inline constexpr std::wstring_view kLogEventSourceNotRegistered =
    L" Clearon's event source could not be registered in HKEY_LOCAL_MACHINE\\SYSTEM\\"
    L"CurrentControlSet\\Services\\EventLog\\Application\\Clearon.\r\n";
inline constexpr std::wstring_view kLogRunEventNotReported =
    L" The Application event of this run could not be reported: error ";
inline constexpr std::wstring_view kLogRunEventUnexpectedError =
    L" The Application event of this run could not be reported: an unexpected error (such as "
    L"running out of memory) stopped it.\r\n";

}  // namespace clearon
