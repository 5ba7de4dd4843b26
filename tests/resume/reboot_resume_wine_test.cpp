// Reboot and resume against the real registry and the real run log: the
// RunOnce registration in the current user's key or the machine's, the
// volatile reboot marker, the 5-second deferral and the relaunch of the real
// Clearon.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <optional>
#include <string>

#include "log/log_texts.h"
#include "platform/handles.h"
#include "resume/reboot_resume.h"
#include "resume/windows_resume_host.h"
#include "platform/run_state.h"
#include "support/win/wine_test_support.h"

namespace clearon {
namespace {

using namespace std::chrono_literals;

const std::wstring kRunOnce(kRunOnceKey);
const std::wstring kTessaral = L"Software\\Tessaral";
const std::wstring kMarkerKey(kClearonMarkerKey);

// The real machine, with the executable's path chosen by the test.
class HostWithPath final : public ResumeHost {
public:
    explicit HostWithPath(std::wstring modulePath) : modulePath_(std::move(modulePath)) {}
    Registry& registry() override { return real_.registry(); }
    std::optional<std::wstring> ModulePath() override { return modulePath_; }
    bool StartWithoutWaiting(std::wstring_view commandLine) override {
        return real_.StartWithoutWaiting(commandLine);
    }
    void Sleep(std::uint32_t milliseconds) override { real_.Sleep(milliseconds); }
    void AppendToLog(std::wstring_view text) override { real_.AppendToLog(text); }
    std::wstring CurrentTimestamp() override { return real_.CurrentTimestamp(); }

private:
    WindowsResumeHost real_;
    std::wstring modulePath_;
};

std::wstring OwnPath() {
    wchar_t buffer[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return buffer;
}

// Timestamped entries as the log holds them: 23 characters
// "MM/DD/YYYY HH:MM:SS:mmm" before each message.
::testing::AssertionResult HasTimestampedLines(const std::wstring& log,
                                               std::initializer_list<std::wstring_view> messages) {
    std::size_t at = 0;
    for (std::wstring_view message : messages) {
        if (log.size() < at + 23 + message.size()) {
            return ::testing::AssertionFailure() << "log too short: " << test::Narrow(log);
        }
        const std::wstring stamp = log.substr(at, 23);
        for (std::size_t i : {2u, 5u}) {
            if (stamp[i] != L'/')
                return ::testing::AssertionFailure() << "stamp " << test::Narrow(stamp);
        }
        for (std::size_t i : {13u, 16u, 19u}) {
            if (stamp[i] != L':')
                return ::testing::AssertionFailure() << "stamp " << test::Narrow(stamp);
        }
        if (log.compare(at + 23, message.size(), message) != 0) {
            return ::testing::AssertionFailure() << "log: " << test::Narrow(log);
        }
        at += 23 + message.size();
    }
    if (at != log.size())
        return ::testing::AssertionFailure() << "extra text: " << test::Narrow(log);
    return ::testing::AssertionSuccess();
}

// Every test starts without the tool's values and keys and leaves none.
class RebootResumeWine : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override {
        Clean();
        g_runState.logFilePath.clear();
    }
    static void Clean() {
        test::DeleteValue(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue));
        test::DeleteValue(HKEY_LOCAL_MACHINE, kRunOnce, std::wstring(kRunOnceValue));
        test::DeleteTree(HKEY_LOCAL_MACHINE, kTessaral);
    }
    std::wstring Log() const { return test::ReadUtf16File(log_ / L"run.log"); }
    void UseScratchLog() { g_runState.logFilePath = log_ / L"run.log"; }

    test::ScratchDir log_{L"resume-log"};
};

TEST_F(RebootResumeWine, CurrentUserRunOnceAndAVolatileMarker) {
    test::CreateKey(HKEY_CURRENT_USER, kRunOnce);  // a fresh Wine prefix lacks it
    UseScratchLog();
    EXPECT_TRUE(DecideReboot(SystemResumeHost(), {true, true, L"/q"}));

    EXPECT_EQ(test::GetString(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue)),
              L"\"" + OwnPath() + L"\" /RunOnce /q");
    EXPECT_EQ(test::GetString(HKEY_LOCAL_MACHINE, kRunOnce, std::wstring(kRunOnceValue)),
              std::nullopt);
    EXPECT_EQ(test::GetString(HKEY_LOCAL_MACHINE, kMarkerKey, std::wstring(kRebootRequiredValue)),
              L"1");
    // Windows refuses an ordinary key below a volatile one: the marker's key
    // is volatile, while the maker's key above it stays ordinary so that
    // Aegira can still write "Tessaral\Aegira" before the restart.
    for (const auto& [parent, expected] : {std::pair{kTessaral, ERROR_SUCCESS},
                                           std::pair{kMarkerKey, ERROR_CHILD_MUST_BE_VOLATILE}}) {
        UniqueKey parentKey;
        ASSERT_EQ(
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_ALL_ACCESS, parentKey.put()),
            ERROR_SUCCESS);
        UniqueKey child;
        EXPECT_EQ(
            RegCreateKeyExW(parentKey.get(), L"OrdinaryChild", 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, child.put(), nullptr),
            static_cast<LSTATUS>(expected))
            << test::Narrow(parent);
    }
    EXPECT_TRUE(HasTimestampedLines(Log(), {kLogAegiraNotInstalled, kLogAddedUserRunOnce}));
}

TEST_F(RebootResumeWine, MachineRunOnceWhenTheUserHasNone) {
    test::DeleteTree(HKEY_CURRENT_USER, kRunOnce);
    ASSERT_FALSE(test::KeyExists(HKEY_CURRENT_USER, kRunOnce));
    ASSERT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, kRunOnce));
    UseScratchLog();
    EXPECT_TRUE(DecideReboot(SystemResumeHost(), {true, true, L""}));
    EXPECT_EQ(test::GetString(HKEY_LOCAL_MACHINE, kRunOnce, std::wstring(kRunOnceValue)),
              L"\"" + OwnPath() + L"\" /RunOnce");
    EXPECT_TRUE(HasTimestampedLines(Log(), {kLogAegiraNotInstalled, kLogAddedMachineRunOnce}));
}

TEST_F(RebootResumeWine, InstalledAegiraRegistersNothing) {
    test::CreateKey(HKEY_CURRENT_USER, kRunOnce);
    test::SetString(HKEY_LOCAL_MACHINE, std::wstring(kAegiraKey),
                    std::wstring(kProductVersionValue), L"11.0.5002.333");
    UseScratchLog();
    EXPECT_FALSE(DecideReboot(SystemResumeHost(), {true, true, L""}));
    EXPECT_EQ(test::GetString(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue)),
              std::nullopt);
    EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, kMarkerKey));
    EXPECT_TRUE(HasTimestampedLines(Log(), {L" Aegira 11.0.5002.333 is installed.\r\n"}));
}

TEST_F(RebootResumeWine, ResumedStartBeforeARestartWaitsAndRegistersAgain) {
    test::CreateKey(HKEY_CURRENT_USER, kRunOnce);
    HostWithPath host(L"C:\\Tools\\Clearon.exe");
    ASSERT_TRUE(DecideReboot(host, {true, true, L"/x"}));
    test::DeleteValue(HKEY_CURRENT_USER, kRunOnce,
                      std::wstring(kRunOnceValue));  // the logon took it

    std::wstring saved;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(HandleResumeSwitches(host, L"/AfterRunOnce /x", saved), ResumeOutcome::ExitNow);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 4900ms);
    EXPECT_EQ(saved, L" /x");
    EXPECT_EQ(test::GetString(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue)),
              L"\"C:\\Tools\\Clearon.exe\" /RunOnce  /x");

    // Without the marker (as after a restart) the start goes on at once,
    // registered again (marker included) until its run no longer needs it.
    test::DeleteTree(HKEY_LOCAL_MACHINE, kTessaral);
    test::DeleteValue(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue));
    EXPECT_EQ(HandleResumeSwitches(host, L"/AfterRunOnce /x", saved), ResumeOutcome::ResumedStart);
    EXPECT_EQ(test::GetString(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue)),
              L"\"C:\\Tools\\Clearon.exe\" /RunOnce  /x");
    EXPECT_TRUE(test::KeyExists(HKEY_LOCAL_MACHINE, kMarkerKey));
}

TEST_F(RebootResumeWine, RunOnceStartRelaunchesTheRealToolAsAResumedStart) {
    test::ScratchDir dir(L"resume-relaunch");
    test::CopyFileOrFail(test::ClearonExePath(), dir / L"Clearon.exe");
    test::WriteAnsi(dir / L"Clearon.ini",
                    "[Settings]\r\nShowGUI=N\r\nEnableLogging=Y\r\n[ProductNames]\r\n");
    HostWithPath host(dir / L"Clearon.exe");

    std::wstring saved;
    EXPECT_EQ(HandleResumeSwitches(host, L"/RunOnce /q", saved), ResumeOutcome::ExitNow);

    // The new instance is not waited for by the tool; the test waits for its
    // log to end, within a bound.
    const std::wstring logPath = dir / (L"Clearon." + test::ComputerName() + L".log");
    std::wstring log;
    EXPECT_TRUE(test::WaitUntil(
        [&] {
            log = test::ReadUtf16File(logPath);
            return log.find(L" Clearon stopping!") != std::wstring::npos;
        },
        120s));
    EXPECT_NE(log.find(L" Clearon starting!"), std::wstring::npos) << test::Narrow(log);
    // The relaunched process has ended once its folder can go.
    EXPECT_TRUE(test::WaitUntil(
        [&] {
            std::error_code ignored;
            std::filesystem::remove_all(dir.path(), ignored);
            return !test::FileExists(dir.path());
        },
        60s))
        << "the relaunched process kept its folder";
}

// One step of the restart scenario (tests/blackbox/resume_restart.sh), which
// names the tool's copy in CLEARON_RESUME_EXE: registers it as a removal run
// that launched the installer would, and leaves the RunOnce value and the
// marker for the restart to act on. Skipped in an ordinary test run.
TEST(RebootResumeRestartScenario, RegisterTheToolAndLeaveTheMarker) {
    const wchar_t* exe = _wgetenv(L"CLEARON_RESUME_EXE");
    if (exe == nullptr) GTEST_SKIP() << "a step of the restart scenario only";
    const std::wstring path = exe;
    g_runState.logFilePath = path.substr(0, path.rfind(L'\\')) + L"\\register.log";
    HostWithPath host(path);
    EXPECT_TRUE(DecideReboot(host, {true, true, L"/q"}));
    g_runState.logFilePath.clear();
}

}  // namespace
}  // namespace clearon
