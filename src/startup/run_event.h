// The one Application event each run leaves for SIEM and Windows event
// forwarding: which event, of which type, with which text. The text travels
// whole in the event's one insertion string, and every message of the
// message file is just "%1", so the event reads the same wherever it is
// rendered, whatever version of the message file is found there.
//
// The decisions are here, without Windows; windows_run_event.h writes the
// message file out, registers the source and reports the event.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "removal/run_outcome.h"

namespace clearon {

struct RunEventFacts {
    OutcomeKind outcome = OutcomeKind::ClearonCode;  // as DecideRunOutcome gave it
    int exitCode = 0;
    std::int32_t productsRemoved = 0;
    std::int32_t productsLeft = 0;
};

// Numbered as ReportEventW's wType: EVENTLOG_ERROR_TYPE,
// EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE.
enum class RunEventType : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

// The event IDs, one per outcome word (OutcomeKindName);
// run_event_messages.mc numbers its messages alike.
inline constexpr std::uint32_t kEventDone = 1000;
inline constexpr std::uint32_t kEventRestartNeeded = 1001;
inline constexpr std::uint32_t kEventRetryLater = 1002;
inline constexpr std::uint32_t kEventProductStayed = 1003;
inline constexpr std::uint32_t kEventInstallerFailed = 1004;
inline constexpr std::uint32_t kEventClearonCode = 1005;

struct RunEvent {
    std::uint32_t id = kEventClearonCode;
    RunEventType type = RunEventType::Error;
    std::wstring text;  // the one insertion string
};

// The event for a run's end. An outcome only ClearonCheck gives (no run, a
// time limit) is reported as "clearon-code" is, naming its own word: an end
// is never left without its event.
[[nodiscard]] RunEvent BuildRunEvent(const RunEventFacts& facts);

// The event source and where Windows looks up its message file.
inline constexpr std::wstring_view kEventSourceName = L"Clearon";
inline constexpr std::wstring_view kEventLogApplicationKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
inline constexpr std::wstring_view kEventSourceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Clearon";
inline constexpr std::wstring_view kEventMessageFileValue = L"EventMessageFile";
inline constexpr std::wstring_view kTypesSupportedValue = L"TypesSupported";
// Error, warning and information.
inline constexpr std::uint32_t kTypesSupported = 7;

// The lasting place of the message file: below Program Files (read from
// kProgramFilesDirValue, which only administrators can change), never the
// package folder a deployment system deletes after the run.
inline constexpr std::wstring_view kWindowsCurrentVersionKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr std::wstring_view kProgramFilesDirValue = L"ProgramFilesDir";
inline constexpr std::wstring_view kEventMessageCompanyFolder = L"Tessaral";
inline constexpr std::wstring_view kEventMessageProductFolder = L"Clearon";
inline constexpr std::wstring_view kEventMessageFileName = L"ClearonEvents.dll";

// Creates the source's key when it is missing and names `messageFile` in
// it (REG_EXPAND_SZ, written as the full path it is: a variable such as
// %ProgramFiles% would expand to another folder in a 32-bit reader).
// False when any step failed.
[[nodiscard]] bool RegisterRunEventSource(Registry& registry, std::wstring_view messageFile);

// The lines about a step that failed are kLogEvent*/kLogRunEvent* in
// log/log_texts.h.

}  // namespace clearon
