// Reboot and resume: at the end of a removal run, is Aegira installed, and if
// its installer ran but the product is still missing, register Clearon to run
// once more at the next logon, with a volatile marker that tells the next
// start whether the machine has really been restarted in between. At process
// start, the switches that this registration produces are handled here too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "resume/resume_host.h"

namespace clearon {

// Aegira's own record of its version.
inline constexpr std::wstring_view kAegiraKey = L"SOFTWARE\\Tessaral\\Aegira\\QRC\\";
inline constexpr std::wstring_view kProductVersionValue = L"ProductVersion";
// Aegira counts as installed only above this version.
inline constexpr std::wstring_view kAegiraMinimumVersion = L"11.0";

// The RunOnce entry that brings the tool back at the next logon.
inline constexpr std::wstring_view kRunOnceKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\";
inline constexpr std::wstring_view kRunOnceValue = L"Clearon";

// The reboot marker lives in volatile keys, which Windows forgets at a
// restart: while the marker is there, the machine has not been restarted.
inline constexpr std::wstring_view kSoftwareKey = L"Software\\";
inline constexpr std::wstring_view kTessaralSubkey = L"Tessaral";
inline constexpr std::wstring_view kTessaralKey = L"Software\\Tessaral\\";
inline constexpr std::wstring_view kClearonSubkey = L"Clearon";
inline constexpr std::wstring_view kClearonMarkerKey = L"Software\\Tessaral\\Clearon\\";
inline constexpr std::wstring_view kRebootRequiredValue = L"RebootRequired";
inline constexpr std::wstring_view kRebootRequiredMarker = L"1";

// Command-line switches.
inline constexpr std::wstring_view kSwitchRunOnce = L"/RunOnce";
inline constexpr std::wstring_view kSwitchRunOnceDash = L"-RunOnce";
inline constexpr std::wstring_view kSwitchAfterRunOnce = L"/AfterRunOnce";
inline constexpr std::wstring_view kSwitchAfterRunOnceDash = L"-AfterRunOnce";
// The relaunch turns each switch "/RunOnce" or "-RunOnce" into its
// "AfterRunOnce" twin, keeping its "/" or "-".
inline constexpr std::wstring_view kAfterRunOnceWord = L"AfterRunOnce";

// How long a resumed start that finds no restart waits before it registers
// itself again.
inline constexpr std::uint32_t kDeferralMilliseconds = 5000;
// Beside the marker, as volatile as it: a deferral is waiting out its pause.
inline constexpr std::wstring_view kDeferringValue = L"Deferring";

// The resume and relaunch commands live in 255-character buffers.
inline constexpr std::size_t kMaxResumeCommandLength = 254;

// Does this ProductVersion mean that Aegira is installed? Its first five
// characters are compared, as unsigned 16-bit numbers, with "11.0" and its
// terminating NUL (the text is NUL beyond its end), up to the first
// difference: installed only when the version compares greater. This is a
// character comparison, not a version comparison: "9.0" counts as installed.
[[nodiscard]] bool IsAegiraVersionInstalled(std::wstring_view version) noexcept;

// Does this RebootRequired text mean that the machine has not been restarted?
// Its first two characters are compared with "1" and its NUL: equal or
// greater ("1", "10", "2", "A") means no restart yet; below ("", "0") means
// the marker's key has gone, so the machine was restarted.
[[nodiscard]] bool IsRebootStillPending(std::wstring_view marker) noexcept;

// The command that RunOnce runs at the next logon: the executable's path in
// double quotes (a path with a blank must never be guessed), " /RunOnce", and " " + savedArguments
// when there are any. Nothing when it does not fit 254 characters: a cut command could name another
// program or lose a switch, so it is refused, not cut.
[[nodiscard]] std::optional<std::wstring> BuildResumeCommand(std::wstring_view modulePath,
                                                             std::wstring_view savedArguments);

// The command a RunOnce start relaunches: the executable's path in double
// quotes, a blank, and the arguments with each relaunch switch (a whole
// argument, any case) turned into "/AfterRunOnce" or "-AfterRunOnce"; all
// other text stays as it came. Nothing when it does not fit 254 characters.
[[nodiscard]] std::optional<std::wstring> BuildRelaunchCommand(std::wstring_view modulePath,
                                                               std::wstring_view arguments);

// The arguments of a resumed start without its switch: every argument that
// is "/AfterRunOnce" or "-AfterRunOnce" (any case) removed; all other text,
// blanks included, stays.
[[nodiscard]] std::wstring StripResumeSwitches(std::wstring_view arguments);

enum class StartKind {
    Relaunch,  // "/RunOnce" or "-RunOnce": start the tool again and end
    Resumed,   // "/AfterRunOnce" or "-AfterRunOnce": continue after a reboot
    Ordinary,
};
// A switch counts only as a whole argument (arguments are separated by
// blanks and tabs), in any letter case; a relaunch switch wins over a
// resumed one. Anything else, such as "LOG=C:\l\setup-runonce.log", is the
// installer's and reaches it unchanged.
[[nodiscard]] StartKind ClassifyStart(std::wstring_view arguments) noexcept;

struct RebootInputs {
    bool resumeAfterReboot = true;   // the ResumeAfterReboot setting
    bool installerLaunched = false;  // this run launched Aegira's installer
    std::wstring_view savedArguments;
};

// The last decision of a removal run: logs whether Aegira is installed and,
// when it is not although its installer ran and resuming is on, writes the
// volatile reboot marker and then registers the resume command in the
// current user's RunOnce key (or the machine's, when the user's does not
// exist). True only when the resume command was written to a RunOnce key;
// the run then asks for a reboot. Every other outcome removes a registration
// left from before: the resume is no longer needed.
[[nodiscard]] bool DecideReboot(ResumeHost& host, const RebootInputs& inputs);

// Right before Aegira's installer starts: the resume is registered (marker,
// then RunOnce, nothing logged), so that a run cut short while the installer
// runs still resumes after the restart. The reboot decision confirms or
// removes it.
void RegisterResumeAhead(ResumeHost& host, const RebootInputs& inputs);

// Deletes the value "Clearon" from both RunOnce keys, then the reboot marker.
void RemoveResumeRegistration(Registry& registry);

enum class ResumeOutcome {
    ExitNow,       // relaunched, or deferred to the next logon: the process ends with 0
    ResumedStart,  // the machine was restarted: continue, started by RunOnce
    NormalStart,   // no resume switch
};

// The first thing a start does. A relaunch start starts the tool again with
// "AfterRunOnce" in place of "RunOnce" and ends, whether that worked or not.
// A resumed start sets `savedArguments` to the arguments without its switch,
// then either continues (the marker is gone: the machine was restarted),
// registered again for as long as it runs, or, when the marker is still
// there, waits 5 seconds, registers itself again and ends. Nothing is logged
// here: the log does not exist yet.
[[nodiscard]] ResumeOutcome HandleResumeSwitches(ResumeHost& host, std::wstring_view arguments,
                                                 std::wstring& savedArguments);

}  // namespace clearon
