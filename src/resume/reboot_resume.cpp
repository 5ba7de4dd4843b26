#include "resume/reboot_resume.h"

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
// text and its NUL).
RegistryStatus SetRunOnce(Registry& registry, RegistryRoot root, std::wstring_view command) {
    return registry.SetValue(root, kRunOnceKey, kRunOnceValue, kRegSz,
                             EncodeRegistryString(command));
}

// Registers the resume command: in the current user's RunOnce key, or, when
// that key does not exist, in the machine's. True when a value was set.
bool RegisterResumeCommand(ResumeHost& host, std::wstring_view command) {
    Registry& registry = host.registry();
    const RegistryStatus userStatus = SetRunOnce(registry, RegistryRoot::CurrentUser, command);
    if (userStatus == RegistryStatus::Ok) {
        host.LogLine(kLogAddedUserRunOnce);
        return true;
    }
    if (userStatus != RegistryStatus::NotFound) {
        // The user's key is there but refused the value. The machine key is
        // not tried: the failure is logged for the administrator instead.
        host.LogLine(kLogFailedUserRunOnce);
        return false;
    }
    const RegistryStatus machineStatus = SetRunOnce(registry, RegistryRoot::LocalMachine, command);
    if (machineStatus == RegistryStatus::Ok) {
        host.LogLine(kLogAddedMachineRunOnce);
        return true;
    }
    // Neither key exists: nothing to report against.
    if (machineStatus != RegistryStatus::NotFound) host.LogLine(kLogFailedMachineRunOnce);
    return false;
}

// The volatile marker. Its failures are silent: the RunOnce value is set, so
// the run asks for a reboot whatever happens here; at worst the next start
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

// The executable's path in double quotes, whatever it holds: unquoted, a
// path such as "D:\Deploy Kit\Clearon.exe" would make Windows try
// "D:\Deploy.exe" first, elevated, at the next logon.
std::wstring QuotedPath(std::wstring_view path) {
    std::wstring quoted(L"\"");
    quoted += path;
    quoted += L'"';
    return quoted;
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
    command += ReplaceOnceEachNoCase(arguments, kRunOnceWord, kAfterRunOnceWord);
    return Fitting(std::move(command));
}

std::wstring StripResumeSwitches(std::wstring_view arguments) {
    // ReplaceNoCase refuses texts beyond its buffer. Such arguments are then
    // kept whole, switch included: every command built from them is longer
    // than its own buffer and is refused there, whereas emptied arguments
    // would quietly start the installer without what it was told.
    if (arguments.size() > kReplaceCapacity) return std::wstring(arguments);
    // Taking out a "/AfterRunOnce" can join the text around it into a new
    // "-AfterRunOnce" ("-After/AfterRunOnceRunOnce"). Both removals are
    // repeated until neither switch is left, so a resumed start never hands a
    // resume switch on to the installer or to its next resume command. Each
    // repetition removes at least one switch, so this ends.
    std::wstring stripped(arguments);
    do {
        stripped = ReplaceNoCase(ReplaceNoCase(stripped, kSwitchAfterRunOnceDash, L""),
                                 kSwitchAfterRunOnce, L"");
    } while (ContainsNoCase(stripped, kSwitchAfterRunOnceDash) ||
             ContainsNoCase(stripped, kSwitchAfterRunOnce));
    return stripped;
}

StartKind ClassifyStart(std::wstring_view arguments) noexcept {
    if (ContainsNoCase(arguments, kSwitchRunOnce) ||
        ContainsNoCase(arguments, kSwitchRunOnceDash)) {
        return StartKind::Relaunch;
    }
    if (ContainsNoCase(arguments, kSwitchAfterRunOnce) ||
        ContainsNoCase(arguments, kSwitchAfterRunOnceDash)) {
        return StartKind::Resumed;
    }
    return StartKind::Ordinary;
}

bool DecideReboot(ResumeHost& host, const RebootInputs& inputs) {
    const std::wstring version = ReadRegistryString(host.registry(), RegistryRoot::LocalMachine,
                                                    kAegiraKey, kProductVersionValue);
    if (IsAegiraVersionInstalled(version)) {
        std::wstring line(kLogAegira);
        line += version;
        line += kLogIsInstalled;
        host.LogLine(line);
        return false;
    }
    host.LogLine(kLogAegiraNotInstalled);

    if (!inputs.resumeAfterReboot || !inputs.installerLaunched) return false;

    const std::optional<std::wstring> modulePath = host.ModulePath();
    const std::optional<std::wstring> command =
        modulePath ? BuildResumeCommand(*modulePath, inputs.savedArguments) : std::nullopt;
    if (!command) {
        host.LogLine(kLogResumeCommandRefused);
        return false;
    }
    if (!RegisterResumeCommand(host, *command)) return false;
    WriteRebootMarker(host.registry());
    return true;
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
            if (!IsRebootStillPending(marker)) return ResumeOutcome::ResumedStart;

            // A logon without a restart: come back at the next logon. Only
            // the user's key is used here; the deferral ends with 0 even when
            // the value could not be set.
            host.Sleep(kDeferralMilliseconds);
            const std::optional<std::wstring> modulePath = host.ModulePath();
            const std::optional<std::wstring> command =
                modulePath ? BuildResumeCommand(*modulePath, savedArguments) : std::nullopt;
            if (command) {
                static_cast<void>(SetRunOnce(host.registry(), RegistryRoot::CurrentUser, *command));
            }
            return ResumeOutcome::ExitNow;
        }
        case StartKind::Ordinary:
            break;
    }
    return ResumeOutcome::NormalStart;
}

}  // namespace clearon
