#include "resume/reboot_resume.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log/log_texts.h"
#include "support/host/memory_registry.h"

namespace clearon {
namespace {

using test::MemoryRegistry;

constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
constexpr RegistryRoot kUser = RegistryRoot::CurrentUser;
constexpr wchar_t kExe[] = L"C:\\Tools\\Clearon.exe";
constexpr wchar_t kStamp[] = L"01/02/2024 03:04:05:006";

// Records everything the logic asks of the machine.
class RecordingHost final : public ResumeHost {
public:
    Registry& registry() override { return machine; }
    std::optional<std::wstring> ModulePath() override { return modulePath; }
    bool StartWithoutWaiting(std::wstring_view commandLine) override {
        started.emplace_back(commandLine);
        return startSucceeds;
    }
    void Sleep(std::uint32_t milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep) onSleep();
    }
    void AppendToLog(std::wstring_view text) override { log += text; }
    std::wstring CurrentTimestamp() override { return kStamp; }

    MemoryRegistry machine;
    std::optional<std::wstring> modulePath = kExe;
    bool startSucceeds = true;
    std::vector<std::wstring> started;
    std::vector<std::uint32_t> sleeps;
    std::function<void()> onSleep;
    std::wstring log;
};

std::wstring Logged(std::initializer_list<std::wstring_view> messages) {
    std::wstring log;
    for (std::wstring_view message : messages) (log += kStamp) += message;
    return log;
}

std::optional<std::wstring> RunOnceValue(const RecordingHost& host, RegistryRoot root) {
    const auto value = host.machine.Get(root, kRunOnceKey, kRunOnceValue);
    if (!value) return std::nullopt;
    EXPECT_EQ(value->type, kRegSz);
    return DecodeRegistryString(*value);
}

bool MarkerWritten(const RecordingHost& host) {
    return host.machine.Get(kMachine, kClearonMarkerKey, kRebootRequiredValue).has_value();
}

TEST(IsAegiraVersionInstalled, ComparesFiveCharactersWithElevenPointZero) {
    const struct {
        std::wstring version;
        bool installed;
    } cases[] = {
        {L"11.0.5002.333", true},  // the full stop beats the NUL at the fifth place
        {L"12.1", true},
        {L"11.0", false},  // equal
        {L"10.1.4", false},
        {L"9.0", true},  // the digit 9 beats the digit 1
        {L"", false},
        {L"11", false},
        {L"11.00", true},
        {L"1", false},
        {std::wstring(1, wchar_t{0xD800}), true},  // compared unsigned
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsAegiraVersionInstalled(c.version), c.installed)
            << testing::PrintToString(c.version);
    }
}

TEST(IsRebootStillPending, OneOrAboveMeansNoRestartYet) {
    const struct {
        std::wstring marker;
        bool pending;
    } cases[] = {
        {L"1", true}, {L"10", true}, {L"2", true},   {L"A", true},
        {L"", false}, {L"0", false}, {L" 1", false}, {std::wstring(1, wchar_t{0xFFFF}), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsRebootStillPending(c.marker), c.pending) << testing::PrintToString(c.marker);
    }
}

TEST(DecideReboot, InstalledAegiraIsLoggedAndNothingIsWritten) {
    for (const wchar_t* version : {L"11.0.5002.333", L"12.1", L"9.0"}) {
        RecordingHost host;
        host.machine.CreateKey(kUser, kRunOnceKey);
        host.machine.SetString(kMachine, kAegiraKey, kProductVersionValue, version);
        EXPECT_FALSE(DecideReboot(host, {true, true, L""}));
        EXPECT_EQ(host.log, Logged({std::wstring(L" Aegira ") + version + L" is installed.\r\n"}));
        EXPECT_EQ(host.machine.writes, 0);
    }
}

TEST(DecideReboot, RunOnceKeysAndTheirFourLogLines) {
    const auto failAllSets = [](MemoryRegistry& r) {
        r.onSet = [](std::wstring_view, std::wstring_view) {
            return std::optional(RegistryStatus::Failed);
        };
    };
    // The user's key is missing (the real one answers "not found"), the
    // machine's refuses the value.
    const auto userMissingMachineFails = [](MemoryRegistry& r) {
        auto calls = std::make_shared<int>(0);
        r.onSet = [calls](std::wstring_view,
                          std::wstring_view value) -> std::optional<RegistryStatus> {
            if (value != kRunOnceValue) return std::nullopt;
            return ++*calls == 1 ? RegistryStatus::NotFound : RegistryStatus::Failed;
        };
    };
    const auto failKeyOpen = [](std::wstring_view key) {
        return [key = std::wstring(key)](MemoryRegistry& r) {
            r.onOpen = [key](std::wstring_view opened,
                             std::wstring_view) -> std::optional<RegistryStatus> {
                if (opened == key) return RegistryStatus::Failed;
                return std::nullopt;
            };
        };
    };
    struct Case {
        const char* what;
        bool userKey;
        bool machineKey;
        std::function<void(MemoryRegistry&)> fault;
        bool result;
        std::vector<std::wstring_view> lines;  // after " Aegira is NOT installed."
        bool userValue;
        bool machineValue;
        bool marker;
    };
    const Case cases[] = {
        {"current user's key",
         true,
         true,
         nullptr,
         true,
         {kLogAddedUserRunOnce},
         true,
         false,
         true},
        {"machine key when the user's does not exist",
         false,
         true,
         nullptr,
         true,
         {kLogAddedMachineRunOnce},
         false,
         true,
         true},
        {"user's key opens but refuses: machine key not tried",
         true,
         true,
         failAllSets,
         false,
         {kLogFailedUserRunOnce},
         false,
         false,
         false},
        {"machine key refuses",
         false,
         true,
         userMissingMachineFails,
         false,
         {kLogFailedMachineRunOnce},
         false,
         false,
         true},
        {"neither key exists: nothing logged",
         false,
         false,
         nullptr,
         false,
         {},
         false,
         false,
         true},
        {"marker keys cannot be created: still true",
         true,
         true,
         failKeyOpen(kSoftwareKey),
         true,
         {kLogAddedUserRunOnce},
         true,
         false,
         false},
        {"marker value cannot be set: still true",
         true,
         true,
         failKeyOpen(kClearonMarkerKey),
         true,
         {kLogAddedUserRunOnce},
         true,
         false,
         false},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        if (c.userKey) host.machine.CreateKey(kUser, kRunOnceKey);
        if (c.machineKey) host.machine.CreateKey(kMachine, kRunOnceKey);
        host.machine.CreateKey(kMachine, kSoftwareKey);
        if (c.fault) c.fault(host.machine);
        EXPECT_EQ(DecideReboot(host, {true, true, L"/q"}), c.result) << c.what;

        std::vector<std::wstring_view> lines{kLogAegiraNotInstalled};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        std::wstring expectedLog;
        for (std::wstring_view line : lines) (expectedLog += kStamp) += line;
        EXPECT_EQ(host.log, expectedLog) << c.what;

        host.machine.onOpen = nullptr;
        host.machine.onSet = nullptr;
        const std::optional<std::wstring> command = L"\"C:\\Tools\\Clearon.exe\" /RunOnce /q";
        EXPECT_EQ(RunOnceValue(host, kUser), c.userValue ? command : std::nullopt) << c.what;
        EXPECT_EQ(RunOnceValue(host, kMachine), c.machineValue ? command : std::nullopt) << c.what;
        EXPECT_EQ(MarkerWritten(host), c.marker) << c.what;
    }
}

TEST(DecideReboot, MarkerIsOneInAVolatileKeyBelowAnOrdinaryMakersKey) {
    RecordingHost host;
    host.machine.CreateKey(kUser, kRunOnceKey);
    host.machine.CreateKey(kMachine, kSoftwareKey);
    ASSERT_TRUE(DecideReboot(host, {true, true, L""}));
    const auto marker = host.machine.Get(kMachine, kClearonMarkerKey, kRebootRequiredValue);
    ASSERT_TRUE(marker.has_value());
    EXPECT_EQ(marker->type, kRegSz);
    EXPECT_EQ(marker->data, (std::vector<std::uint8_t>{'1', 0, 0, 0}));
    EXPECT_FALSE(host.machine.IsVolatile(kMachine, kTessaralKey));
    EXPECT_TRUE(host.machine.IsVolatile(kMachine, kClearonMarkerKey));
    // Aegira's installer, run again before the restart, can still register
    // itself below the maker's key.
    EXPECT_EQ(host.machine.CreateSubkey(kMachine, kTessaralKey, L"Aegira", KeyLifetime::Persistent),
              RegistryStatus::Ok);
    EXPECT_NE(
        host.machine.CreateSubkey(kMachine, kClearonMarkerKey, L"Child", KeyLifetime::Persistent),
        RegistryStatus::Ok);
    // The RunOnce value holds the command and its NUL: (length + 1) x 2 bytes.
    const std::wstring command = L"\"C:\\Tools\\Clearon.exe\" /RunOnce";
    EXPECT_EQ(host.machine.Get(kUser, kRunOnceKey, kRunOnceValue)->data.size(),
              (command.size() + 1) * 2);
}

TEST(DecideReboot, NothingRegisteredWithoutResumeOrInstaller) {
    const RebootInputs inputs[] = {{false, true, L""}, {true, false, L""}, {false, false, L""}};
    for (const RebootInputs& input : inputs) {
        RecordingHost host;
        host.machine.CreateKey(kUser, kRunOnceKey);
        host.machine.CreateKey(kMachine, kSoftwareKey);
        host.machine.SetString(kMachine, kAegiraKey, kProductVersionValue, L"11.0");
        EXPECT_FALSE(DecideReboot(host, input));
        EXPECT_EQ(host.log, Logged({kLogAegiraNotInstalled}));
        EXPECT_EQ(host.machine.writes, 0);
    }
}

TEST(BuildResumeCommand, PathRunOnceAndTheSavedArguments) {
    EXPECT_EQ(BuildResumeCommand(kExe, L""), L"\"C:\\Tools\\Clearon.exe\" /RunOnce");
    EXPECT_EQ(BuildResumeCommand(kExe, L" /x"), L"\"C:\\Tools\\Clearon.exe\" /RunOnce  /x");
    EXPECT_EQ(BuildRelaunchCommand(kExe, L""), L"\"C:\\Tools\\Clearon.exe\" ");
    EXPECT_EQ(BuildRelaunchCommand(kExe, L"/RunOnce"), L"\"C:\\Tools\\Clearon.exe\" /AfterRunOnce");
    // A folder with a blank: Windows must never guess "D:\\Deploy.exe".
    EXPECT_EQ(BuildResumeCommand(L"D:\\Deploy Kit\\Clearon.exe", L""),
              L"\"D:\\Deploy Kit\\Clearon.exe\" /RunOnce");

    // The path in quotes: 2 + 238 + " /RunOnce" + " " + 4 = 254 characters
    // fit; one more is refused.
    const std::wstring longPath = L"C:\\" + std::wstring(235, L'p');
    EXPECT_EQ(BuildResumeCommand(longPath, L"/abc")->size(), 254u);
    EXPECT_EQ(BuildResumeCommand(longPath, L"/abcd"), std::nullopt);
    // The relaunch grows by five characters for every RunOnce it rewrites.
    EXPECT_EQ(BuildRelaunchCommand(longPath, L"/RunOnce")->size(), 254u);
    EXPECT_EQ(BuildRelaunchCommand(longPath, L"/RunOnce "), std::nullopt);
}

TEST(DecideReboot, TooLongResumeCommandIsRefusedAndLogged) {
    RecordingHost host;
    host.machine.CreateKey(kUser, kRunOnceKey);
    host.machine.CreateKey(kMachine, kSoftwareKey);
    EXPECT_FALSE(DecideReboot(host, {true, true, std::wstring(250, L'a')}));
    EXPECT_EQ(host.log, Logged({kLogAegiraNotInstalled, kLogResumeCommandRefused}));
    EXPECT_EQ(host.machine.writes, 0);

    RecordingHost noPath;
    noPath.modulePath.reset();
    noPath.machine.CreateKey(kUser, kRunOnceKey);
    EXPECT_FALSE(DecideReboot(noPath, {true, true, L""}));
    EXPECT_EQ(noPath.machine.writes, 0);
}

TEST(HandleResumeSwitches, RelaunchNormalAndResumedStarts) {
    struct Case {
        std::wstring arguments;
        ResumeOutcome outcome;
        std::vector<std::wstring> started;
        std::wstring savedArguments;  // "unchanged" unless a resumed start
    };
    const std::wstring exe = L"\"" + std::wstring(kExe) + L"\"";  // relaunched by its quoted path
    const Case cases[] = {
        {L"", ResumeOutcome::NormalStart, {}, L"unchanged"},
        {L"/RunOnce /s", ResumeOutcome::ExitNow, {exe + L" /AfterRunOnce /s"}, L"unchanged"},
        {L"/runonce", ResumeOutcome::ExitNow, {exe + L" /AfterRunOnce"}, L"unchanged"},
        {L"-RUNONCE", ResumeOutcome::ExitNow, {exe + L" -AfterRunOnce"}, L"unchanged"},
        // Only the switch changes; an argument that merely holds the word
        // reaches the installer as it came.
        {L"/RunOnce\tLOG=C:\\l\\setup-runonce.log",
         ResumeOutcome::ExitNow,
         {exe + L" /AfterRunOnce\tLOG=C:\\l\\setup-runonce.log"},
         L"unchanged"},
        {L"/AfterRunOnce /RunOnce",
         ResumeOutcome::ExitNow,
         {exe + L" /AfterRunOnce /AfterRunOnce"},
         L"unchanged"},
        {L"/q /RunOnceLater", ResumeOutcome::NormalStart, {}, L"unchanged"},
        {L"x/RunOnce", ResumeOutcome::NormalStart, {}, L"unchanged"},
        {L"RunOnce", ResumeOutcome::NormalStart, {}, L"unchanged"},
        {L"LOG=C:\\l\\setup-runonce.log", ResumeOutcome::NormalStart, {}, L"unchanged"},
        {L"/a -AfterRunOnce/AFTERrunonce /b", ResumeOutcome::NormalStart, {}, L"unchanged"},
        {L"/AfterRunOnce", ResumeOutcome::ResumedStart, {}, L""},
        {L"/AfterRunOnce /x", ResumeOutcome::ResumedStart, {}, L" /x"},
        {L"-afterrunonce /q", ResumeOutcome::ResumedStart, {}, L" /q"},
        {L"-AFTERRUNONCE", ResumeOutcome::ResumedStart, {}, L""},
        {L"/a -AfterRunOnce /AFTERrunonce /b", ResumeOutcome::ResumedStart, {}, L"/a   /b"},
        {L"/AfterRunOnce LOG=x-afterrunonce.log",
         ResumeOutcome::ResumedStart,
         {},
         L" LOG=x-afterrunonce.log"},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        host.machine.CreateKey(kUser, kRunOnceKey);
        std::wstring saved = L"unchanged";
        EXPECT_EQ(HandleResumeSwitches(host, c.arguments, saved), c.outcome)
            << testing::PrintToString(c.arguments);
        EXPECT_EQ(host.started, c.started) << testing::PrintToString(c.arguments);
        EXPECT_EQ(saved, c.savedArguments) << testing::PrintToString(c.arguments);
        // Nothing is logged before the log exists; only a resumed start
        // writes: it registers itself again while it runs.
        EXPECT_EQ(host.log, L"");
        EXPECT_EQ(RunOnceValue(host, kUser).has_value(), c.outcome == ResumeOutcome::ResumedStart)
            << testing::PrintToString(c.arguments);
        if (c.outcome != ResumeOutcome::ResumedStart) {
            EXPECT_EQ(host.machine.writes, 0);
        }
        EXPECT_TRUE(host.sleeps.empty());
    }
}

TEST(HandleResumeSwitches, RelaunchEndsTheStartEvenWhenItFailsOrIsRefused) {
    RecordingHost failing;
    failing.startSucceeds = false;
    std::wstring saved;
    EXPECT_EQ(HandleResumeSwitches(failing, L"/RunOnce", saved), ResumeOutcome::ExitNow);
    EXPECT_EQ(failing.started.size(), 1u);

    RecordingHost tooLong;
    EXPECT_EQ(HandleResumeSwitches(tooLong, L"/RunOnce " + std::wstring(240, L'a'), saved),
              ResumeOutcome::ExitNow);
    EXPECT_TRUE(tooLong.started.empty());

    RecordingHost noPath;
    noPath.modulePath.reset();
    EXPECT_EQ(HandleResumeSwitches(noPath, L"/RunOnce", saved), ResumeOutcome::ExitNow);
    EXPECT_TRUE(noPath.started.empty());
}

TEST(HandleResumeSwitches, MarkerDefersOrContinues) {
    struct Case {
        std::optional<std::wstring> marker;
        bool defers;
        bool anotherDeferralWaits = false;
    };
    const Case cases[] = {
        {L"1", true}, {L"10", true}, {L"2", true},          {L"A", true},
        {L"", false}, {L"0", false}, {std::nullopt, false}, {L"1", true, true},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        host.machine.CreateKey(kUser, kRunOnceKey);
        host.machine.CreateKey(kMachine, kRunOnceKey);
        if (c.marker)
            host.machine.SetString(kMachine, kClearonMarkerKey, kRebootRequiredValue, *c.marker);
        if (c.anotherDeferralWaits)
            host.machine.SetString(kMachine, kClearonMarkerKey, kDeferringValue, L"1");
        // A restart during the pause keeps the resume, unless another
        // deferral of this logon is waiting to register it.
        std::optional<std::wstring> duringPause;
        host.onSleep = [&] { duringPause = RunOnceValue(host, kUser); };
        std::wstring saved;
        const ResumeOutcome outcome = HandleResumeSwitches(host, L"/AfterRunOnce /x", saved);
        const std::string what = testing::PrintToString(c.marker.value_or(L"(none)")) +
                                 (c.anotherDeferralWaits ? " waiting" : "");
        EXPECT_EQ(saved, L" /x") << what;
        EXPECT_EQ(host.log, L"") << what;
        if (c.defers) {
            EXPECT_EQ(outcome, ResumeOutcome::ExitNow) << what;
            EXPECT_EQ(host.sleeps, std::vector<std::uint32_t>{5000}) << what;
            EXPECT_EQ(RunOnceValue(host, kUser), L"\"C:\\Tools\\Clearon.exe\" /RunOnce  /x")
                << what;
            EXPECT_EQ(duringPause.has_value(), !c.anotherDeferralWaits) << what;
        } else {
            // Registered again for as long as the resumed run lasts.
            EXPECT_EQ(outcome, ResumeOutcome::ResumedStart) << what;
            EXPECT_TRUE(host.sleeps.empty()) << what;
            EXPECT_EQ(RunOnceValue(host, kUser), L"\"C:\\Tools\\Clearon.exe\" /RunOnce  /x")
                << what;
        }
        EXPECT_EQ(RunOnceValue(host, kMachine), std::nullopt) << what;
    }
}

// A registration that fell back to the machine's key (the account has no
// RunOnce key of its own) is renewed there, by the deferral and by the
// resumed run alike.
TEST(HandleResumeSwitches, RenewalFallsBackToTheMachineKeyAsTheRegistrationDid) {
    for (const bool restarted : {false, true}) {
        RecordingHost host;
        host.machine.CreateKey(kMachine, kRunOnceKey);
        host.machine.CreateKey(kMachine, kSoftwareKey);
        if (!restarted) {
            host.machine.CreateKey(kMachine, kClearonMarkerKey, true);
            host.machine.SetString(kMachine, kClearonMarkerKey, kRebootRequiredValue, L"1");
        }
        std::wstring saved;
        EXPECT_EQ(HandleResumeSwitches(host, L"/AfterRunOnce", saved),
                  restarted ? ResumeOutcome::ResumedStart : ResumeOutcome::ExitNow);
        EXPECT_EQ(RunOnceValue(host, kMachine), L"\"C:\\Tools\\Clearon.exe\" /RunOnce");
        EXPECT_TRUE(MarkerWritten(host));
        EXPECT_EQ(host.log, L"");
    }
}

TEST(HandleResumeSwitches, OverlongArgumentsLoseOnlyTheSwitch) {
    // Every command built from them refuses them for their length; they are
    // never emptied or cut on the way.
    const std::wstring arguments = L"/AfterRunOnce " + std::wstring(600, L'a');
    RecordingHost host;
    std::wstring saved;
    EXPECT_EQ(HandleResumeSwitches(host, arguments, saved), ResumeOutcome::ResumedStart);
    EXPECT_EQ(saved, L" " + std::wstring(600, L'a'));
}

TEST(ResumeCycle, MarkerSurvivesALogonButNotARestart) {
    for (const bool markerKeyAlreadyOrdinary : {false, true}) {
        RecordingHost host;
        host.machine.CreateKey(kUser, kRunOnceKey);
        host.machine.CreateKey(kMachine, kSoftwareKey);
        if (markerKeyAlreadyOrdinary) host.machine.CreateKey(kMachine, kClearonMarkerKey, false);
        ASSERT_TRUE(DecideReboot(host, {true, true, L"/q"}));

        // A logon without a restart: the marker is still there.
        std::wstring saved;
        EXPECT_EQ(HandleResumeSwitches(host, L"/AfterRunOnce /q", saved), ResumeOutcome::ExitNow);

        host.machine.Restart();
        const ResumeOutcome afterRestart = HandleResumeSwitches(host, L"/AfterRunOnce /q", saved);
        // An ordinary key that was there before keeps the marker across
        // restarts: every resumed start defers again.
        EXPECT_EQ(afterRestart,
                  markerKeyAlreadyOrdinary ? ResumeOutcome::ExitNow : ResumeOutcome::ResumedStart);
        // RunOnce itself is no volatile key.
        EXPECT_EQ(RunOnceValue(host, kUser), L"\"C:\\Tools\\Clearon.exe\" /RunOnce  /q");
    }
}

}  // namespace
}  // namespace clearon
