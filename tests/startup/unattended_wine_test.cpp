// The real Clearon.exe where nobody can answer: on a window station nobody
// sees, with an uninstaller that outlives ProgramTimeLimit, with Windows
// Installer busy, and started twice at once. A start that showed a box
// there would never end: every wait is bounded, and a run that does not end
// in time fails its case (and is ended by RunningProgram).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/config_file.h"
#include "log/log_format.h"
#include "log/log_texts.h"
#include "removal/program_runner.h"
#include "startup/removal_start.h"
#include "removal/uninstall_command.h"
#include "startup/clearon_run.h"
#include "startup/run_event.h"
#include "startup/startup_rules.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kRunLimit = std::chrono::minutes(4);

// The stand-in uninstaller, copied beside Clearon.exe as u.exe: program lines
// stay short wherever the repository lies, and Windows finds a program
// named without a folder in the directory of the program that starts it.
std::wstring Uninstaller(const ScratchDir& dir) {
    CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), dir / L"u.exe");
    return L"u.exe";
}

bool Holds(const std::wstring& text, std::wstring_view piece) {
    return text.find(piece) != std::wstring::npos;
}

// The labels of a mark file's lines, in order.
std::vector<std::wstring> MarkLabels(const std::wstring& path) {
    std::vector<std::wstring> labels;
    for (const std::wstring& line : LogLines(ReadUtf16File(path)))
        labels.push_back(line.substr(0, line.find(L' ')));
    return labels;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Sleep(50);
    }
    return true;
}

std::wstring Ini(const std::wstring& settings, const std::wstring& products = L"") {
    return L"[Settings]\r\n" + settings + L"[ProductNames]\r\n" + products +
           L"[UninstallPaths]\r\n";
}

struct UnseenCase {
    const char* name;
    std::wstring settings;  // empty: no Clearon.ini at all
    DWORD exitCode;
    std::vector<std::wstring> logHolds;  // in the run log
    bool ranProgram;
};

// Each kind of box on a window station nobody sees.
TEST(Unattended, NobodySeesTheWindowStation) {
    const std::wstring desktop = InvisibleDesktop();
    ASSERT_FALSE(desktop.empty());
    const std::wstring notice = L"Please save your work now.";
    const UnseenCase cases[] = {
        {"dialog waiting for Start",
         L"ShowGUI=Y\r\n",
         kExitNeedsPerson,
         {std::wstring(kLogNobodySees), std::wstring(kLogNeedsPerson)},
         false},
        {"automatic dialog and notice",
         L"ShowGUI=Y\r\nAutoRunAfterUILoads=Y\r\nShowMessageBox=Y\r\nMessageBoxText=" + notice +
             L"\r\n",
         0,
         {std::wstring(kLogRunsWithoutDialog), std::wstring(kLogNoticeNotShown) + notice + L"\r\n"},
         true},
        {"silent run with notice",
         L"ShowGUI=N\r\nShowMessageBox=Y\r\nMessageBoxText=" + notice + L"\r\n",
         0,
         {std::wstring(kLogNoticeNotShown) + notice + L"\r\n"},
         true},
    };
    for (const UnseenCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir(L"unseen");
        const std::wstring marks = dir / L"marks.txt";
        WriteAnsi(dir / L"Clearon.ini", Narrow(Ini(c.settings + L"RunBeforeRemoval=" +
                                                   Uninstaller(dir) + L" /mark=marks.txt\r\n")));
        RunningProgram clearon = StartClearon(dir, L"", desktop);
        EXPECT_EQ(clearon.WaitForExit(kRunLimit), c.exitCode);
        const std::wstring log = ReadUtf16File(dir / RunLogName());
        ExpectOneRun(LogLines(log));
        for (const std::wstring& piece : c.logHolds) EXPECT_TRUE(Holds(log, piece)) << Narrow(log);
        EXPECT_TRUE(Holds(log, kLogVersion));
        EXPECT_EQ(FileExists(marks), c.ranProgram);
    }
}

TEST(Unattended, MissingConfigurationEndsWithoutABox) {
    ScratchDir dir(L"unseen");
    RunningProgram clearon = StartClearon(dir, L"", InvisibleDesktop());
    EXPECT_EQ(clearon.WaitForExit(kRunLimit), static_cast<DWORD>(kExitConfigMissing));
    EXPECT_EQ(ReadUtf16File(dir / std::wstring(kErrorLogName)),
              std::wstring(kMsgConfigMissing) + L"\r\n");
    EXPECT_FALSE(FileExists(dir / RunLogName()));
}

// A stand-in for MsiExec that answers 1618 twice, then removes its product;
// the removal question is answered by its default button, since nobody sees
// it. The stand-in lies beside Clearon.exe as MsiExec.exe: Windows looks for
// a program named without a folder in the starting program's own directory
// first, and the entry's command stays short.
TEST(Unattended, BusyWindowsInstallerIsTriedAgain) {
    ScratchDir dir(L"busy");
    const std::wstring code = L"{C1EA0000-BB5Y}";
    const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code;
    DeleteTree(HKEY_LOCAL_MACHINE, key);
    CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), dir / L"MsiExec.exe");
    SetString(HKEY_LOCAL_MACHINE, key, L"DisplayName", L"Wombat Busy Guard");
    SetString(HKEY_LOCAL_MACHINE, key, L"UninstallString",
              L"MsiExec.exe /X" + code +
                  L" /mark=t.txt /exit-unless-marked=3,1618,t.txt /delete-key=HKLM\\" + key);
    WriteAnsi(dir / L"Clearon.ini", Narrow(Ini(L"ShowGUI=N\r\n", L"Wombat Busy Guard\r\n")));

    RunningProgram clearon = StartClearon(dir, L"", InvisibleDesktop());
    EXPECT_EQ(clearon.WaitForExit(kRunLimit), 0u);
    const std::wstring log = ReadUtf16File(dir / RunLogName());
    EXPECT_EQ(MarkLabels(dir / L"t.txt").size(), 3u);
    std::size_t retries = 0;
    for (const std::wstring& line : LogLines(log))
        retries += line.find(kLogInstallerBusy) != std::wstring::npos;
    EXPECT_EQ(retries, 2u) << Narrow(log);
    EXPECT_TRUE(Holds(log, L"the question is answered Yes, its default button")) << Narrow(log);
    EXPECT_FALSE(Holds(log, kLogInstallerStayedBusy));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, key));
    DeleteTree(HKEY_LOCAL_MACHINE, key);
}

// The uninstaller lingers past ProgramTimeLimit=1: the wait ends, the run
// goes on, and the uninstaller is left running (it still marks afterwards).
TEST(Unattended, ProgramTimeLimitEndsTheWaitNotTheProgram) {
    ScratchDir dir(L"limit");
    const std::wstring marks = dir / L"marks.txt";
    const std::wstring go = dir / L"go.txt";
    WriteAnsi(
        dir / L"Clearon.ini",
        Narrow(Ini(L"ShowGUI=N\r\nProgramTimeLimit=1\r\nRunBeforeRemoval=" + Uninstaller(dir) +
                   L" /name=slow /mark=marks.txt /wait-for=go.txt /mark=marks.txt\r\n")));
    RunningProgram clearon = StartClearon(dir);
    EXPECT_EQ(clearon.WaitForExit(kRunLimit), 0u);
    const std::wstring log = ReadUtf16File(dir / RunLogName());
    EXPECT_TRUE(Holds(
        log, std::wstring(kLogTimeLimitPassed) + L"1" + std::wstring(kLogTimeLimitLeftRunning)))
        << Narrow(log);
    EXPECT_EQ(MarkLabels(marks), std::vector<std::wstring>{L"slow"});
    WriteAnsi(go, "go");
    EXPECT_TRUE(WaitFor([&] { return MarkLabels(marks).size() == 2; }, 2min));
}

// Two starts at once: the second waits until the first has ended.
TEST(Unattended, TwoStartsNeverOverlap) {
    ScratchDir first(L"first");
    ScratchDir second(L"second");
    ScratchDir shared(L"j");
    const std::wstring journal = shared / L"journal.txt";
    const std::wstring go = shared / L"go.txt";
    WriteAnsi(
        first / L"Clearon.ini",
        Narrow(Ini(L"ShowGUI=N\r\nRunBeforeRemoval=" + Uninstaller(first) + L" /name=first /mark=" +
                   journal + L" /wait-for=" + go + L" /mark=" + journal + L"\r\n")));
    WriteAnsi(second / L"Clearon.ini",
              Narrow(Ini(L"ShowGUI=N\r\nRunBeforeRemoval=" + Uninstaller(second) +
                         L" /name=second /mark=" + journal + L" /mark=" + journal + L"\r\n")));

    RunningProgram one = StartClearon(first);
    ASSERT_TRUE(WaitFor([&] { return MarkLabels(journal).size() == 1; }, 2min));
    RunningProgram two = StartClearon(second);
    const std::wstring secondLog = second / RunLogName();
    EXPECT_TRUE(
        WaitFor([&] { return Holds(ReadUtf16File(secondLog), kLogWaitingForOther); }, 2min));
    WriteAnsi(go, "go");
    EXPECT_EQ(one.WaitForExit(kRunLimit), 0u);
    EXPECT_EQ(two.WaitForExit(kRunLimit), 0u);

    EXPECT_EQ(MarkLabels(journal),
              (std::vector<std::wstring>{L"first", L"first", L"second", L"second"}));
    const std::vector<std::wstring> lines = LogLines(ReadUtf16File(secondLog));
    // The waiting line stands before the second run's own entries, which
    // say that it waited.
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(
        IsTimestamped(lines[0], kLogWaitingForOther.substr(0, kLogWaitingForOther.size() - 2)));
    ExpectRunFrame(lines, 1);
    EXPECT_TRUE(Holds(ReadUtf16File(secondLog), kLogWaitedForOther));
}

// Someone else holds the single-instance name (whose owner Wine cannot make
// anyone but the one user: that test is the host's). OtherRunTimeLimit=0
// does not wait: the start ends with 1618 having begun
// no run of its own. A longer limit takes the same path after its wait.
TEST(Unattended, AHeldRunNameEndsTheStartWith1618) {
    ScratchDir dir(L"squatted");
    WriteAnsi(dir / L"Clearon.ini",
              Narrow(Ini(L"ShowGUI=N\r\nOtherRunTimeLimit=0\r\nRunBeforeRemoval=" +
                         Uninstaller(dir) + L" /name=ran /mark=marks.txt\r\n")));
    const UniqueKernelHandle squatter(CreateMutexW(nullptr, TRUE, kRunMutexName));
    ASSERT_TRUE(squatter.valid());

    RunningProgram clearon = StartClearon(dir);
    EXPECT_EQ(clearon.WaitForExit(kRunLimit), static_cast<DWORD>(kExitOtherRunInProgress));
    const std::wstring log = ReadUtf16File(dir / RunLogName());
    EXPECT_TRUE(Holds(log, std::wstring(kLogOtherRunTimeLimitPassed) + L"0" +
                               std::wstring(kLogOtherRunTimeLimitEnd)))
        << Narrow(log);
    EXPECT_FALSE(Holds(log, kLogStarting)) << "no run of its own";
    EXPECT_FALSE(FileExists(dir / L"marks.txt"));
}

// From the single-instance lock on, the run holds its log: a program that
// then opens it with sharing that refuses writers is refused itself, and
// every entry stays in the run log.
TEST(Unattended, TheRunLogIsHeldForTheWholeRun) {
    ScratchDir dir(L"held-log");
    WriteAnsi(dir / L"Clearon.ini",
              Narrow(Ini(L"ShowGUI=N\r\nRunBeforeRemoval=" + Uninstaller(dir) +
                         L" /name=held /mark=marks.txt /wait-for=go.txt\r\n")));
    RunningProgram clearon = StartClearon(dir);
    ASSERT_TRUE(WaitFor([&] { return MarkLabels(dir / L"marks.txt").size() == 1; }, 2min));
    {
        const UniqueFileHandle reader(CreateFileW((dir / RunLogName()).c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_FALSE(reader.valid());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        WriteAnsi(dir / L"go.txt", "go");
        EXPECT_EQ(clearon.WaitForExit(kRunLimit), 0u);
    }
    ExpectOneRun(LogLines(ReadUtf16File(dir / RunLogName())));
    EXPECT_FALSE(FileExists(dir / std::wstring(kErrorLogName)));
}

// The identity of a file on its volume: a file moved over it is another one.
std::optional<std::uint64_t> FileIdentity(const std::wstring& path) {
    const UniqueFileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    return (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
}

struct MessageFileCase {
    const char* name;
    std::optional<std::vector<std::uint8_t>> before;  // nothing: no file there
    bool sameFileAfter;
};

// Each run registers its event source with a message file that outlives the
// package folder: written when missing, replaced when it differs, left alone
// when it is Clearon's own; then, with every package folder gone, each event
// ID of the file shows its insertion string exactly.
TEST(Unattended, EachRunLeavesItsEventMessageFileOutsideThePackage) {
    const std::wstring sourceKey(kEventSourceKey);
    const std::optional<std::wstring> programFiles =
        GetString(HKEY_LOCAL_MACHINE, std::wstring(kWindowsCurrentVersionKey), L"ProgramFilesDir");
    ASSERT_TRUE(programFiles);
    const std::wstring file = *programFiles + L"\\Tessaral\\Clearon\\ClearonEvents.dll";
    const std::vector<std::uint8_t> built =
        ReadBytes(L"" CLEARON_BUILD_DIR L"/event-messages/ClearonEvents.dll");
    ASSERT_FALSE(built.empty());
    const MessageFileCase cases[] = {
        {"nothing there", std::nullopt, false},
        {"another file there", std::vector<std::uint8_t>{'M', 'Z', 0, 1}, false},
        {"Clearon's own there", built, true},
    };
    for (const MessageFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteTree(HKEY_LOCAL_MACHINE, sourceKey);
        DeleteFileW(file.c_str());
        if (c.before) WriteBytes(file, *c.before);
        const std::optional<std::uint64_t> identity = FileIdentity(file);
        ScratchDir dir(L"event");
        WriteAnsi(dir / L"Clearon.ini", Narrow(Ini(L"ShowGUI=N\r\n")));
        RunningProgram clearon = StartClearon(dir);
        EXPECT_EQ(clearon.WaitForExit(kRunLimit), 0u);
        const std::wstring log = ReadUtf16File(dir / RunLogName());
        ExpectOneRun(LogLines(log));
        for (const std::wstring_view problem :
             {kLogEventMessageFileNotWritten, kLogEventSourceNotRegistered,
              kLogRunEventNotReported}) {
            EXPECT_FALSE(Holds(log, problem)) << Narrow(log);
        }
        EXPECT_FALSE(FileExists(dir / std::wstring(kErrorLogName)));

        EXPECT_EQ(ReadBytes(file), built);
        EXPECT_EQ(identity.has_value() && identity == FileIdentity(file), c.sameFileAfter);
        wchar_t named[MAX_PATH] = {};
        DWORD size = sizeof(named);
        EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, sourceKey.c_str(), L"EventMessageFile",
                               RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, named, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(named), file);
        DWORD types = 0;
        size = sizeof(types);
        EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, sourceKey.c_str(), L"TypesSupported",
                               RRF_RT_REG_DWORD, nullptr, &types, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(types, 7u);
    }

    UniqueLibrary messages(LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(messages.valid()) << GetLastError();
    for (const OutcomeKind kind :
         {OutcomeKind::Done, OutcomeKind::RestartNeeded, OutcomeKind::RetryLater,
          OutcomeKind::ProductStayed, OutcomeKind::InstallerFailed, OutcomeKind::ClearonCode}) {
        const RunEvent event = BuildRunEvent({kind, 1, 2, 3});
        DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(event.text.c_str())};
        wchar_t shown[1024] = {};
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, messages.get(), event.id,
            0, shown, static_cast<DWORD>(std::size(shown)), reinterpret_cast<va_list*>(arguments));
        EXPECT_EQ(std::wstring(shown, length), event.text) << event.id << " " << GetLastError();
    }
    messages.reset();
    DeleteTree(HKEY_LOCAL_MACHINE, sourceKey);
    DeleteFileW(file.c_str());
}

// Know what ran: both executables carry the build's one version, and the
// run log names it (checked with every run above).
TEST(Unattended, BothExecutablesCarryTheVersion) {
    const std::wstring version = L"" CLEARON_VERSION_TEXT;
    for (const std::wstring& exe :
         {ClearonExePath(), std::wstring(L"" CLEARON_BUILD_DIR) + L"/ClearonCheck.exe"}) {
        SCOPED_TRACE(Narrow(exe));
        DWORD ignored = 0;
        std::vector<std::uint8_t> data(GetFileVersionInfoSizeW(exe.c_str(), &ignored));
        ASSERT_FALSE(data.empty());
        ASSERT_TRUE(
            GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
        const auto text = [&](const wchar_t* name) {
            void* value = nullptr;
            UINT length = 0;
            const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
            if (!VerQueryValueW(data.data(), path.c_str(), &value, &length) || length == 0)
                return std::wstring();
            return std::wstring(static_cast<const wchar_t*>(value));
        };
        EXPECT_EQ(text(L"CompanyName"), L"Tessaral");
        EXPECT_EQ(text(L"ProductName"), L"Clearon");
        EXPECT_EQ(text(L"FileVersion"), version);
        EXPECT_EQ(text(L"ProductVersion"), version);
        void* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", &fixed, &length));
        const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
        EXPECT_EQ(info->dwFileVersionMS,
                  static_cast<DWORD>(MAKELONG(CLEARON_VERSION_MINOR, CLEARON_VERSION_MAJOR)));
        EXPECT_EQ(info->dwProductVersionLS, static_cast<DWORD>(MAKELONG(0, CLEARON_VERSION_PATCH)));
    }
}

}  // namespace
}  // namespace clearon::test
