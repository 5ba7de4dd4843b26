#include "resume/reboot_resume.h"

#include "log/log_texts.h"
#include "text/wide_string.h"

namespace clearon {
namespace {

// The bounded comparison both checks use: the first `count` characters of
// `text` (NUL beyond its end, as in a cleared buffer) against `reference`
// and its terminating NUL, as unsigned 16-bit numbers, up to the first
// difference. Negative, zero or positive like wcsncmp.
int CompareBounded(std::wstring_view text, std::wstring_view reference,
                   std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        const auto a = static_cast<std::uint16_t>(i < text.size() ? text[i] : L'\0');
        const auto b = static_cast<std::uint16_t>(i < reference.size() ? reference[i] : L'\0');
        if (a != b) return a < b ? -1 : 1;
        if (a == 0) return 0;
    }
    return 0;
}

std::optional<std::wstring> Fitting(std::wstring command) {
    if (command.size() > kMaxResumeCommandLength) return std::nullopt;
    return command;
}

// Sets the RunOnce value "Clearon" under `root` to `command` (REG_SZ, the
// text and its NUL), and has it on disk before anything else is written: a
// power loss right after must not keep the pending renames' next step and
// lose the registration.
RegistryStatus SetRunOnce(Registry& registry, RegistryRoot root, std::wstring_view command) {
    const RegistryStatus status =
        registry.SetValue(root, kRunOnceKey, kRunOnceValue, kRegSz, EncodeRegistryString(command));
    if (status == RegistryStatus::Ok) registry.Flush(root, kRunOnceKey);
    return status;
}

// Which key a registration went to, for its log line.
enum class Registered { User, Machine, UserRefused, MachineRefused, NoKey };

// The volatile marker. Its failures are silent: at worst the next start
// takes a logon for a restart.
//
// Only the marker's own key is volatile. The maker's key above it stays an
// ordinary key: Windows refuses ordinary keys below a volatile one, and a
// volatile "Tessaral" would stop Aegira's installer from writing its own
// "Tessaral\Aegira" key until the next restart. An existing key of either
// kind is opened as it is.
void WriteRebootMarker(Registry& registry) {
    static_cast<void>(registry.CreateSubkey(RegistryRoot::LocalMachine, kSoftwareKey,
                                            kTessaralSubkey, KeyLifetime::Persistent));
    static_cast<void>(registry.CreateSubkey(RegistryRoot::LocalMachine, kTessaralKey,
                                            kClearonSubkey, KeyLifetime::Volatile));
    static_cast<void>(registry.SetValue(RegistryRoot::LocalMachine, kClearonMarkerKey,
                                        kRebootRequiredValue, kRegSz,
                                        EncodeRegistryString(kRebootRequiredMarker)));
}

// The command alone: in the current user's RunOnce key or, when that key
// does not exist, in the machine's, which Windows runs at the next logon of
// an administrator. A registration renewed by a later start lands in the same
// key by the same rule.
Registered RegisterCommand(Registry& registry, std::wstring_view command) {
    const RegistryStatus userStatus = SetRunOnce(registry, RegistryRoot::CurrentUser, command);
    if (userStatus == RegistryStatus::Ok) return Registered::User;
    // The user's key is there but refused the value: the machine key is not
    // tried, the failure is logged for the administrator instead.
    if (userStatus != RegistryStatus::NotFound) return Registered::UserRefused;
    const RegistryStatus machineStatus = SetRunOnce(registry, RegistryRoot::LocalMachine, command);
    if (machineStatus == RegistryStatus::Ok) return Registered::Machine;
    return machineStatus == RegistryStatus::NotFound ? Registered::NoKey
                                                     : Registered::MachineRefused;
}

// Registers the resume command: the reboot marker first, so that a logon
// before the restart never finds the command without it (and resumes at
// once), then the command.
Registered Register(Registry& registry, std::wstring_view command) {
    WriteRebootMarker(registry);
    return RegisterCommand(registry, command);
}

// Registers and logs; true when a value was set.
bool RegisterResumeCommand(ResumeHost& host, std::wstring_view command) {
    switch (Register(host.registry(), command)) {
        case Registered::User:
            host.LogLine(kLogAddedUserRunOnce);
            return true;
        case Registered::Machine:
            host.LogLine(kLogAddedMachineRunOnce);
            return true;
        case Registered::UserRefused:
            host.LogLine(kLogFailedUserRunOnce);
            return false;
        case Registered::MachineRefused:
            host.LogLine(kLogFailedMachineRunOnce);
            return false;
        case Registered::NoKey:  // neither key exists: nothing to report against
            break;
    }
    return false;
}

// The resume command of this executable, when it can be built.
std::optional<std::wstring> ResumeCommand(ResumeHost& host, std::wstring_view savedArguments) {
    const std::optional<std::wstring> modulePath = host.ModulePath();
    return modulePath ? BuildResumeCommand(*modulePath, savedArguments) : std::nullopt;
}

// The executable's path in double quotes, whatever it holds: unquoted, a
// path such as "D:\Deploy Kit\Clearon.exe" would make Windows try
// "D:\Deploy.exe" first, elevated, at the next logon.
std::wstring QuotedPath(std::wstring_view path) {
    std::wstring quoted(L"\"");
    quoted += path;
    quoted += L'"';
    return quoted;
}

bool IsArgumentBlank(wchar_t c) noexcept {
    return c == L' ' || c == L'\t';
}

// The piece of `arguments` that starts at `at`: a run of blanks, or one
// whole argument up to the next blank. Walking piece by piece visits every
// character once, so the text between switches is kept exactly as it came.
std::wstring_view ArgumentAt(std::wstring_view arguments, std::size_t at) noexcept {
    const bool blank = IsArgumentBlank(arguments[at]);
    std::size_t end = at + 1;
    while (end < arguments.size() && IsArgumentBlank(arguments[end]) == blank) ++end;
    return arguments.substr(at, end - at);
}

// A switch is a whole argument: "LOG=C:\l\setup-runonce.log" is the
// installer's, not Clearon's.
bool IsRelaunchSwitch(std::wstring_view argument) noexcept {
    return EqualsNoCase(argument, kSwitchRunOnce) || EqualsNoCase(argument, kSwitchRunOnceDash);
}

bool IsResumedSwitch(std::wstring_view argument) noexcept {
    return EqualsNoCase(argument, kSwitchAfterRunOnce) ||
           EqualsNoCase(argument, kSwitchAfterRunOnceDash);
}

}  // namespace

bool IsAegiraVersionInstalled(std::wstring_view version) noexcept {
    return CompareBounded(version, kAegiraMinimumVersion, kAegiraMinimumVersion.size() + 1) > 0;
}

bool IsRebootStillPending(std::wstring_view marker) noexcept {
    return CompareBounded(marker, kRebootRequiredMarker, kRebootRequiredMarker.size() + 1) >= 0;
}

std::optional<std::wstring> BuildResumeCommand(std::wstring_view modulePath,
                                               std::wstring_view savedArguments) {
    std::wstring command = QuotedPath(modulePath);
    command += L' ';
    command += kSwitchRunOnce;
    if (!savedArguments.empty()) {
        command += L' ';
        command += savedArguments;
    }
    return Fitting(std::move(command));
}

std::optional<std::wstring> BuildRelaunchCommand(std::wstring_view modulePath,
                                                 std::wstring_view arguments) {
    std::wstring command = QuotedPath(modulePath);
    command += L' ';
    std::size_t kept = 0;
    for (std::size_t at = 0; at < arguments.size();) {
        const std::wstring_view argument = ArgumentAt(arguments, at);
        if (IsRelaunchSwitch(argument)) {
            command.append(arguments.substr(kept, at - kept));
            // "/RunOnce" becomes "/AfterRunOnce", "-RunOnce" "-AfterRunOnce".
            command += argument.front();
            command += kAfterRunOnceWord;
            kept = at + argument.size();
        }
        at += argument.size();
    }
    command.append(arguments.substr(kept));
    return Fitting(std::move(command));
}

std::wstring StripResumeSwitches(std::wstring_view arguments) {
    // Only the switch goes; the blanks around it stay, so the text on either
    // side never joins into a new argument.
    std::wstring stripped;
    stripped.reserve(arguments.size());
    for (std::size_t at = 0; at < arguments.size();) {
        const std::wstring_view argument = ArgumentAt(arguments, at);
        if (!IsResumedSwitch(argument)) stripped.append(argument);
        at += argument.size();
    }
    return stripped;
}

StartKind ClassifyStart(std::wstring_view arguments) noexcept {
    bool resumed = false;
    for (std::size_t at = 0; at < arguments.size();) {
        const std::wstring_view argument = ArgumentAt(arguments, at);
        if (IsRelaunchSwitch(argument)) return StartKind::Relaunch;
        resumed = resumed || IsResumedSwitch(argument);
        at += argument.size();
    }
    return resumed ? StartKind::Resumed : StartKind::Ordinary;
}

void RemoveResumeRegistration(Registry& registry) {
    for (const RegistryRoot root : {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
        static_cast<void>(registry.DeleteValue(root, kRunOnceKey, kRunOnceValue));
    }
    // The marker last: it only ever matters while a command is registered.
    static_cast<void>(
        registry.DeleteValue(RegistryRoot::LocalMachine, kClearonMarkerKey, kRebootRequiredValue));
}

void RegisterResumeAhead(ResumeHost& host, const RebootInputs& inputs) {
    if (!inputs.resumeAfterReboot) return;
    if (const std::optional<std::wstring> command = ResumeCommand(host, inputs.savedArguments)) {
        static_cast<void>(Register(host.registry(), *command));
    }
}

bool DecideReboot(ResumeHost& host, const RebootInputs& inputs) {
    const std::wstring version = ReadRegistryString(host.registry(), RegistryRoot::LocalMachine,
                                                    kAegiraKey, kProductVersionValue);
    if (IsAegiraVersionInstalled(version)) {
        std::wstring line(kLogAegira);
        line += version;
        line += kLogIsInstalled;
        host.LogLine(line);
        RemoveResumeRegistration(host.registry());
        return false;
    }
    host.LogLine(kLogAegiraNotInstalled);

    if (!inputs.resumeAfterReboot || !inputs.installerLaunched) {
        RemoveResumeRegistration(host.registry());
        return false;
    }
    const std::optional<std::wstring> command = ResumeCommand(host, inputs.savedArguments);
    if (!command) {
        host.LogLine(kLogResumeCommandRefused);
        RemoveResumeRegistration(host.registry());
        return false;
    }
    return RegisterResumeCommand(host, *command);
}

ResumeOutcome HandleResumeSwitches(ResumeHost& host, std::wstring_view arguments,
                                   std::wstring& savedArguments) {
    switch (ClassifyStart(arguments)) {
        case StartKind::Relaunch: {
            // The relaunch is not waited for, and this start ends with 0
            // whether it started or not.
            const std::optional<std::wstring> modulePath = host.ModulePath();
            const std::optional<std::wstring> command =
                modulePath ? BuildRelaunchCommand(*modulePath, arguments) : std::nullopt;
            if (command) static_cast<void>(host.StartWithoutWaiting(*command));
            return ResumeOutcome::ExitNow;
        }
        case StartKind::Resumed: {
            savedArguments = StripResumeSwitches(arguments);
            const std::wstring marker =
                ReadRegistryString(host.registry(), RegistryRoot::LocalMachine, kClearonMarkerKey,
                                   kRebootRequiredValue);
            const std::optional<std::wstring> command = ResumeCommand(host, savedArguments);
            if (!IsRebootStillPending(marker)) {
                // Windows deleted the value before it started this run. It is
                // registered again (after its own restart) until the run's
                // reboot decision says it is no longer needed, so a resumed
                // run that is cut short resumes again.
                // Marker first, as for any registration: a resumed run that
                // is cut short may have started the installer again, which
                // needs its own restart before the next one.
                if (command) static_cast<void>(Register(host.registry(), *command));
                return ResumeOutcome::ResumedStart;
            }

            // A logon without a restart: come back at the next logon, in the
            // key the registration rule chose before; the marker is there.
            // Windows deleted the value before it started this, so it is set
            // again at once: a restart during the pause must not lose the
            // resume. It is set again after the pause too, which lets Windows
            // finish running the RunOnce entries of this logon first: should
            // it find the value again and start another deferral, that one
            // sees this one waiting and only registers after its own pause,
            // so nothing runs over and over. The deferral ends with 0 even
            // when the value could not be set.
            Registry& registry = host.registry();
            RegistryValue waiting;
            const bool anotherWaits =
                registry.QueryValue(RegistryRoot::LocalMachine, kClearonMarkerKey, kDeferringValue,
                                    kRegistryStringBytes, waiting) == RegistryStatus::Ok;
            if (command && !anotherWaits) {
                static_cast<void>(registry.SetValue(RegistryRoot::LocalMachine, kClearonMarkerKey,
                                                    kDeferringValue, kRegSz,
                                                    EncodeRegistryString(kRebootRequiredMarker)));
                static_cast<void>(RegisterCommand(registry, *command));
            }
            host.Sleep(kDeferralMilliseconds);
            if (command) static_cast<void>(RegisterCommand(registry, *command));
            if (!anotherWaits) {
                static_cast<void>(registry.DeleteValue(RegistryRoot::LocalMachine,
                                                       kClearonMarkerKey, kDeferringValue));
            }
            return ResumeOutcome::ExitNow;
        }
        case StartKind::Ordinary:
            break;
    }
    return ResumeOutcome::NormalStart;
}

}  // namespace clearon
