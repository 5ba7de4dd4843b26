// The program runner for real, under Wine: launches, process trees that
// outlive their root, exit codes, the 32-bit redirection, the planted-prefix
// trap and the refusal of over-long commands. The run log is read back.
#include "removal/program_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "log/log_texts.h"
#include "removal/command_line.h"
#include "platform/run_state.h"
#include "startup/run_context.h"
#include "support/win/wine_test_support.h"
#include "ui/notice_dialog.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::wstring Uninstaller(const std::wstring& arguments) {
    return L"\"" + TestProgramPath(L"test_uninstaller.exe") + L"\" " + arguments;
}

// The messages of the log's timestamped lines, with their timestamps checked.
std::vector<std::wstring> Messages(const std::wstring& logPath) {
    const std::wstring text = ReadUtf16File(logPath);
    EXPECT_TRUE(text.empty() || text.ends_with(L"\r\n")) << "the log ends inside a line";
    std::vector<std::wstring> messages;
    for (const auto& line : TextLines(text)) {
        const auto message = MessageOf(line);
        EXPECT_TRUE(message.has_value() && message->starts_with(L" ")) << Narrow(line);
        messages.push_back(message.value_or(line));
    }
    return messages;
}

std::wstring CurrentDirectory() {
    wchar_t directory[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    return directory;
}

// The notice dialog from this test program's copy of the resources.
bool NoticeOfThisProgram() noexcept {
    return RunNoticePause(g_runState.instanceHandle);
}

class ProgramRunner : public testing::Test {
protected:
    void SetUp() override {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        wchar_t wow64[MAX_PATH] = {};
        GetSystemWow64DirectoryW(wow64, MAX_PATH);
        g_runState.instanceHandle = GetModuleHandleW(nullptr);
        g_runState.exeDirectory = scratch_.path();
        g_runState.systemDirectory = system;
        g_runState.wow64SystemDirectory = wow64;
        g_removalState.scanning32BitView = false;
        g_runState.logFilePath = logPath_;
        g_runState.loggingEnabled = true;
        SetCurrentDirectoryW(scratch_.path().c_str());
    }
    void TearDown() override {
        g_removalState.scanning32BitView = false;
        SetCurrentDirectoryW(scratch_.path().c_str());
    }

    // Runs RunProgram on a thread of its own; a run past `limit` fails the
    // whole test program instead of hanging the suite. Returns its duration.
    static Clock::duration RunBounded(const std::wstring& command, bool showNotice = false,
                                      std::chrono::seconds limit = 60s) {
        const auto start = Clock::now();
        auto done = std::async(std::launch::async, [&] {
            clearon::RunProgram(command, g_removalState.scanning32BitView,
                                showNotice ? NoticeOfThisProgram : nullptr);
        });
        if (done.wait_for(limit) != std::future_status::ready) {
            ADD_FAILURE() << "RunProgram did not return within " << limit.count() << " s";
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 99);
        }
        return Clock::now() - start;
    }

    ScratchDir scratch_{L"runner"};
    std::wstring logPath_ = scratch_ / L"run.log";
    std::wstring marks_ = scratch_ / L"marks.txt";
};

TEST_F(ProgramRunner, EmptyCommandDoesNothingAtAll) {
    g_removalState.scanning32BitView = true;
    RunBounded(L"");
    EXPECT_FALSE(FileExists(logPath_));
    EXPECT_EQ(CurrentDirectory(), scratch_.path());
}

TEST_F(ProgramRunner, ProgramExitingAtOnceLogsAttemptAndExitCode) {
    const std::wstring command = Uninstaller(L"/exit=0");
    RunBounded(command);
    EXPECT_EQ(Messages(logPath_),
              (std::vector<std::wstring>{L" Attempting to run: " + command, L" Exit code: 0"}));
}

struct ExitCodeCase {
    std::wstring argument;
    std::wstring logged;
};

TEST_F(ProgramRunner, ExitCodesAreLoggedSigned) {
    const ExitCodeCase cases[] = {
        {L"/exit=3010", L" Exit code: 3010"},
        {L"/exit=-1073741819", L" Exit code: -1073741819"},
        {L"/exit=0xC0000005", L" Exit code: -1073741819"},
    };
    for (const auto& c : cases) {
        DeleteFileW(logPath_.c_str());
        RunBounded(Uninstaller(c.argument));
        const auto messages = Messages(logPath_);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[1], c.logged);
    }
}

// Trees whose root ends before its descendants: each marks at its very end,
// so its line in the marks file proves the runner waited for it.
struct TreeCase {
    const char* name;
    std::wstring arguments;
    std::vector<std::wstring> labelsInOrder;
    std::wstring exitLine;
    Clock::duration atLeast;
};

TEST_F(ProgramRunner, WaitsForEveryDescendantAndLogsTheRootsExitCode) {
    const std::wstring mark = L"/mark=" + marks_;
    const TreeCase cases[] = {
        {"relaunching child started at once, parent gone within milliseconds",
         L"/spawn( /name=copy /sleep=1500 " + mark + L" /exit=9 ) /name=root " + mark +
             L" /exit=3010",
         {L"root", L"copy"},
         L" Exit code: 3010",
         1500ms},
        {"grandchild outlives child and root",
         L"/spawn( /spawn( /name=grandchild /sleep=2000 " + mark + L" ) /name=child /sleep=300 " +
             mark + L" ) /name=root " + mark + L" /exit=-1",
         {L"root", L"child", L"grandchild"},
         L" Exit code: -1",
         2000ms},
        {"child started late, after the root was first checked",
         L"/sleep=400 /spawn( /name=late /sleep=1000 " + mark + L" ) /name=root " + mark +
             L" /exit=1",
         {L"root", L"late"},
         L" Exit code: 1",
         1400ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(logPath_.c_str());
        DeleteFileW(marks_.c_str());
        const auto took = RunBounded(Uninstaller(c.arguments));
        EXPECT_GE(took, c.atLeast);
        const auto marks = TextLines(ReadUtf16File(marks_));
        ASSERT_EQ(marks.size(), c.labelsInOrder.size());
        for (std::size_t i = 0; i < marks.size(); ++i) {
            EXPECT_EQ(marks[i].substr(0, c.labelsInOrder[i].size() + 1), c.labelsInOrder[i] + L" ");
        }
        const auto messages = Messages(logPath_);
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages[1], c.exitLine);
    }
}

TEST_F(ProgramRunner, FailedLaunchLogsNoExitCodeAndRestoresTheDirectory) {
    for (bool redirected : {false, true}) {
        DeleteFileW(logPath_.c_str());
        g_removalState.scanning32BitView = redirected;
        const std::wstring command = L"C:\\no\\such\\program.exe /x";
        RunBounded(command);
        EXPECT_EQ(Messages(logPath_), (std::vector<std::wstring>{L" Attempting to run: " + command,
                                                                 L" Failed to launch process!"}));
        EXPECT_EQ(CurrentDirectory(), scratch_.path());
    }
}

TEST_F(ProgramRunner, RedirectsSystemDirectoryTo32BitOneWhileScanningThe32BitView) {
    // A copy of the helper in the 32-bit system directory, named in the
    // command by its 64-bit twin in another letter case.
    const std::wstring name = L"clearon_runner_test.exe";
    const std::wstring wow64Copy = g_runState.wow64SystemDirectory + L"\\" + name;
    CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), wow64Copy);
    g_runState.systemDirectory = L"C:\\windows\\system32";
    g_runState.wow64SystemDirectory = L"C:\\windows\\syswow64";
    g_removalState.scanning32BitView = true;
    // Where the run started is not where it returns to: exeDirectory is.
    ScratchDir elsewhere(L"runner-elsewhere");
    SetCurrentDirectoryW(elsewhere.path().c_str());

    RunBounded(L"C:\\WINDOWS\\System32\\" + name + L" /name=redirected /mark=" + marks_ +
               L" /log=c:\\Windows\\SYSTEM32\\x");
    DeleteFileW(wow64Copy.c_str());

    EXPECT_EQ(Messages(logPath_),
              (std::vector<std::wstring>{L" Attempting to run: C:\\windows\\syswow64\\" + name +
                                             L" /name=redirected /mark=" + marks_ +
                                             L" /log=C:\\windows\\syswow64\\x",
                                         L" Exit code: 0"}));
    const auto marks = TextLines(ReadUtf16File(marks_));
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_NE(marks[0].find(L" cwd=C:\\windows\\syswow64 "), std::wstring::npos)
        << Narrow(marks[0]);
    EXPECT_EQ(CurrentDirectory(), scratch_.path());
}

// C:\Program.exe is planted; the real uninstaller lives in a folder whose
// name has a blank and is named without quotes.
class PlantedPrefix : public ProgramRunner {
protected:
    void SetUp() override {
        ProgramRunner::SetUp();
        CreateDirectoryW(folder_.c_str(), nullptr);
        CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), folder_ + L"\\uninst.exe");
        CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), kPlanted);
    }
    void TearDown() override {
        DeleteFileW(kPlanted);
        DeleteFileW((folder_ + L"\\uninst.exe").c_str());
        RemoveDirectoryW(folder_.c_str());
        EXPECT_FALSE(FileExists(kPlanted)) << "C:\\Program.exe was left behind";
        ProgramRunner::TearDown();
    }
    static constexpr const wchar_t* kPlanted = L"C:\\Program.exe";
    std::wstring folder_ = L"C:\\Program Files\\Clearon Runner Test";
};

TEST_F(PlantedPrefix, RunsTheProgramTheCommandNamesNotTheShorterPrefix) {
    struct Case {
        std::wstring program;  // as written in the command
        std::wstring launched;
    };
    const Case cases[] = {
        {folder_ + L"\\uninst.exe", L"\"" + folder_ + L"\\uninst.exe\""},
        {folder_ + L"\\uninst", L"\"" + folder_ + L"\\uninst\""},
    };
    for (const auto& c : cases) {
        DeleteFileW(logPath_.c_str());
        DeleteFileW(marks_.c_str());
        const std::wstring arguments = L" /mark=" + marks_ + L" /exit=0";
        RunBounded(c.program + arguments);
        EXPECT_EQ(Messages(logPath_),
                  (std::vector<std::wstring>{L" Attempting to run: " + c.launched + arguments,
                                             L" Exit code: 0"}));
        const auto marks = TextLines(ReadUtf16File(marks_));
        ASSERT_EQ(marks.size(), 1u);
        const std::wstring ran = marks[0].substr(marks[0].find(L" exe=") + 5);
        EXPECT_EQ(ran, folder_ + L"\\uninst.exe");
    }
}

TEST_F(PlantedPrefix, AProgramThatIsGoneRunsNothingNotThePlantedPrefix) {
    // The uninstaller was already removed: Windows would run C:\Program.exe.
    for (const std::wstring& program : {folder_ + L"\\gone.exe", folder_ + L"\\gone"}) {
        DeleteFileW(logPath_.c_str());
        const std::wstring command = program + L" /mark=" + marks_ + L" /exit=0";
        RunBounded(command);
        EXPECT_EQ(Messages(logPath_),
                  std::vector<std::wstring>{std::wstring(kLogProgramNotFound) + command});
        EXPECT_FALSE(FileExists(marks_));
    }
}

TEST_F(ProgramRunner, AtADriveRootTheRootIsRestoredNotTheDrivesCurrentFolder) {
    // Clearon at C:\Clearon.exe: "C:" alone would name drive C's current
    // folder, the 32-bit system directory the run has just made it.
    g_runState.exeDirectory = L"C:";
    g_removalState.scanning32BitView = true;
    RunBounded(L"C:\\no\\such\\program.exe /x");
    EXPECT_EQ(CurrentDirectory(), L"C:\\");
}

TEST_F(ProgramRunner, RefusesCommandsLongerThan511CharactersWithOneLogLine) {
    const std::wstring head = Uninstaller(L"/mark=" + marks_ + L" /name=");
    for (std::size_t length : {511u, 512u, 2000u}) {
        DeleteFileW(logPath_.c_str());
        DeleteFileW(marks_.c_str());
        const std::wstring command = head + std::wstring(length - head.size(), L'x');
        RunBounded(command);
        const auto messages = Messages(logPath_);
        if (length <= kMaxCommandLength) {
            EXPECT_EQ(messages.size(), 2u);
            EXPECT_TRUE(FileExists(marks_));
        } else {
            EXPECT_EQ(messages, (std::vector<std::wstring>{std::wstring(kLogCommandTooLong) +
                                                           command.substr(0, 80) + L"..."}));
            EXPECT_FALSE(FileExists(marks_)) << "a refused command ran";
        }
    }
}

TEST_F(ProgramRunner, NoticePauseReplacesTheShortPauseAndStaysHidden) {
    std::atomic<bool> running{true};
    std::atomic<int> visibleSeen{0};
    std::atomic<int> noticeSeen{0};
    std::thread watcher([&] {
        while (running) {
            HWND notice = FindWindowExW(nullptr, nullptr, L"#32770", L"Information");
            if (notice != nullptr) {
                ++noticeSeen;
                if (IsWindowVisible(notice)) ++visibleSeen;
            }
            Sleep(1);
        }
    });
    const auto took = RunBounded(Uninstaller(L"/sleep=200 /exit=0"), true);
    running = false;
    watcher.join();
    // One check, one five-second notice, one check that finds the end.
    EXPECT_GE(took, 4800ms);
    EXPECT_GT(noticeSeen.load(), 0);
    EXPECT_EQ(visibleSeen.load(), 0);
    const auto messages = Messages(logPath_);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], L" Exit code: 0");
}

}  // namespace
}  // namespace clearon::test
