// What a start of Clearon.exe leaves in its logs, read as the administrator
// who deployed it would read them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "log/log_format.h"
#include "log/log_texts.h"
#include "log/run_log.h"
#include "platform/handles.h"
#include "startup/clearon_run.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

const std::string kMinimalConfig = "[Settings]\r\n[ProductNames]\r\n";

std::string ConfigWith(const std::string& settingsLines) {
    return "[Settings]\r\n" + settingsLines + "\r\n[ProductNames]\r\nNo Such Product\r\n";
}

// Names of the .log files in a folder.
std::vector<std::wstring> LogFilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == L".log") names.push_back(entry.path().filename().wstring());
    }
    return names;
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? value : L"";
}

// Removes a file a test placed outside its scratch folder, on every path out.
struct RemoveOnExit {
    std::wstring path;
    bool isDirectory = false;
    ~RemoveOnExit() {
        if (isDirectory) {
            RemoveDirectoryW(path.c_str());
        } else {
            DeleteFileW(path.c_str());
        }
    }
};

void ExpectCleanExit(const ClearonRun& run) {
    ASSERT_TRUE(run.process.exitCode.has_value()) << "Clearon.exe did not end";
    EXPECT_EQ(*run.process.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
}

TEST(RunLog, SilentRunFramesItsLinesAndPrintsNothing) {
    ScratchDir dir(L"log-silent");
    WriteAnsi(dir / L"Clearon.ini", kMinimalConfig);

    const ClearonRun run = RunAnsweringBoxes(dir);

    ExpectCleanExit(run);
    EXPECT_EQ(run.process.standardOutput, "") << "a silent run without messages prints nothing";
    const auto bytes = ReadBytes(dir / RunLogName());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 'C') << "no byte-order mark: the file starts with the first entry";
    EXPECT_EQ(bytes[1], 0);
    ExpectOneRun(LogLines(ReadUtf16File(dir / RunLogName())));
    EXPECT_TRUE(ReadUtf16File(dir / RunLogName()).ends_with(L"\r\n"));
    EXPECT_EQ(LogFilesIn(dir.path()), std::vector<std::wstring>{RunLogName()});
}

TEST(RunLog, TwoRunsAppendToOneLog) {
    ScratchDir dir(L"log-twice");
    WriteAnsi(dir / L"Clearon.ini", kMinimalConfig);

    ExpectCleanExit(RunAnsweringBoxes(dir));
    ExpectCleanExit(RunAnsweringBoxes(dir));

    const auto lines = LogLines(ReadUtf16File(dir / RunLogName()));
    const std::size_t second = ExpectRunFrame(lines, 0);
    EXPECT_EQ(ExpectRunFrame(lines, second), lines.size());
}

TEST(RunLog, LogPathExpandsSystemRoot) {
    const std::wstring systemRoot = Environment(L"SystemRoot");
    ASSERT_FALSE(systemRoot.empty());
    const std::wstring expected = systemRoot + L"\\Temp\\" + RunLogName();
    DeleteFileW(expected.c_str());
    RemoveOnExit cleanup{expected};
    ScratchDir dir(L"log-systemroot");
    WriteAnsi(dir / L"Clearon.ini", ConfigWith("LogPath=%SystemRoot%\\Temp"));

    ExpectCleanExit(RunAnsweringBoxes(dir));

    ExpectOneRun(LogLines(ReadUtf16File(expected)));
    EXPECT_TRUE(LogFilesIn(dir.path()).empty()) << "nothing in the executable's folder";
}

// An undefined variable is removed, leaving \Logs\: the Logs folder at the
// root of the current drive, which is the executable's drive C:.
TEST(RunLog, LogPathWithAnUndefinedVariableUsesLogsAtTheDriveRoot) {
    const std::wstring logs = L"C:\\Logs";
    if (FileExists(logs)) GTEST_SKIP() << "C:\\Logs exists already; not touching it";
    ScratchDir dir(L"log-undefined");
    WriteAnsi(dir / L"Clearon.ini", ConfigWith("LogPath=%CLEARON_NO_SUCH_VARIABLE%\\Logs"));

    // Without the folder, every entry lands in the error log.
    ExpectCleanExit(RunAnsweringBoxes(dir));
    ExpectOneRun(LogLines(ReadUtf16File(dir / std::wstring(kErrorLogName))));
    ASSERT_FALSE(FileExists(logs)) << "the log writer never creates folders";

    ASSERT_TRUE(CreateDirectoryW(logs.c_str(), nullptr));
    RemoveOnExit removeFolder{logs, true};
    RemoveOnExit removeLog{logs + L"\\" + RunLogName()};
    ExpectCleanExit(RunAnsweringBoxes(dir));
    ExpectOneRun(LogLines(ReadUtf16File(logs + L"\\" + RunLogName())));
}

TEST(RunLog, MissingLogDirectorySendsEveryEntryToTheErrorLog) {
    ScratchDir dir(L"log-missing-dir");
    WriteAnsi(dir / L"Clearon.ini",
              ConfigWith("LogPath=" + Narrow(dir.path()) + "\\no\\such\\dir"));

    ExpectCleanExit(RunAnsweringBoxes(dir));

    ExpectOneRun(LogLines(ReadUtf16File(dir / std::wstring(kErrorLogName))));
    EXPECT_EQ(LogFilesIn(dir.path()), std::vector<std::wstring>{std::wstring(kErrorLogName)});
    EXPECT_FALSE(FileExists(dir / L"no"));
}

TEST(RunLog, EnableLoggingNoWritesNoLogAtAll) {
    ScratchDir dir(L"log-disabled");
    WriteAnsi(dir / L"Clearon.ini", ConfigWith("EnableLogging=N"));

    ExpectCleanExit(RunAnsweringBoxes(dir));

    EXPECT_TRUE(LogFilesIn(dir.path()).empty());
}

// A log path that does not fit its 254 characters is refused, not cut: the
// folder exists and the whole path would even work on this Windows, yet no
// log appears there, and the error log says why.
TEST(RunLog, OverlongLogPathGoesToTheErrorLogWithAReason) {
    ScratchDir dir(L"log-long");
    // One character more than the field holds once "\Clearon.<name>.log" is
    // added; the LogPath line itself stays within the 254-character line.
    const std::wstring longFolder = L"C:\\" + std::wstring(254 - 3 - RunLogName().size(), L'a');
    ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr) || FileExists(longFolder));
    RemoveOnExit removeFolder{longFolder, true};
    RemoveOnExit removeLog{longFolder + L"\\" + RunLogName()};
    ASSERT_EQ(longFolder.size() + 1 + RunLogName().size(), 255u);
    WriteAnsi(dir / L"Clearon.ini", ConfigWith("LogPath=" + Narrow(longFolder)));

    ExpectCleanExit(RunAnsweringBoxes(dir));

    EXPECT_TRUE(LogFilesIn(longFolder).empty());
    const auto lines = LogLines(ReadUtf16File(dir / std::wstring(kErrorLogName)));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"Computer Name: " + ComputerName());
    EXPECT_TRUE(IsTimestamped(
        lines[1],
        L" The log file path is longer than 254 characters; this run logs to Clearon_Err.log."))
        << Narrow(lines[1]);
    EXPECT_TRUE(IsTimestamped(lines[2], L" Clearon starting!"));
    EXPECT_TRUE(IsTimestamped(lines.back(), L" Clearon stopping!"));
}

// A parameter string that does not fit its field is refused, and the run log
// says so right after the start and version lines.
TEST(RunLog, RefusedSettingIsNamedInTheRunLog) {
    ScratchDir dir(L"log-refused");
    WriteAnsi(dir / L"Clearon.ini", ConfigWith("MSIExtraParameters=" + std::string(300, 'p')));

    ExpectCleanExit(RunAnsweringBoxes(dir));

    const auto lines = LogLines(ReadUtf16File(dir / RunLogName()));
    ExpectOneRun(lines);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_TRUE(IsTimestamped(lines[2], L" Clearon version " CLEARON_VERSION_TEXT));
    EXPECT_TRUE(IsTimestamped(lines[3],
                              L" Ignored the setting MSIExtraParameters: its line or value is "
                              L"longer than 254 characters."))
        << Narrow(lines[3]);
}

// Another program holds the run log open. A writer that shares nothing
// sends the entries to the error log, nothing lost; a reader (a person
// watching the log) does not divert a single entry.
TEST(RunLog, RunLogHeldOpenElsewhere) {
    const struct {
        const wchar_t* name;
        DWORD access;
        DWORD share;
        bool inRunLog;
    } cases[] = {
        {L"log-held-writer", GENERIC_WRITE, 0, false},
        {L"log-held-reader", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        ScratchDir dir(c.name);
        WriteAnsi(dir / L"Clearon.ini", kMinimalConfig);
        {
            UniqueFileHandle holder(CreateFileW((dir / RunLogName()).c_str(), c.access, c.share,
                                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
            ASSERT_TRUE(holder.valid());
            ExpectCleanExit(RunAnsweringBoxes(dir));
        }
        const std::wstring entriesIn = c.inRunLog ? RunLogName() : std::wstring(kErrorLogName);
        const std::wstring emptyOne = c.inRunLog ? std::wstring(kErrorLogName) : RunLogName();
        EXPECT_FALSE(FileExists(dir / emptyOne) && !ReadBytes(dir / emptyOne).empty());
        ExpectOneRun(LogLines(ReadUtf16File(dir / entriesIn)));
    }
}

// A folder of the log path is a symbolic link to another folder (Wine
// follows it as Windows follows a junction): the run log is refused, the
// error log names where the link led once, and then takes the run.
TEST(RunLog, ALinkInTheLogPathIsRefused) {
    ScratchDir dir(L"log-linked");
    const std::wstring real = dir / L"real";
    const std::wstring link = dir / L"link";
    ASSERT_TRUE(CreateDirectoryW(real.c_str(), nullptr));
    // Removed before the scratch folder: its cleanup must not meet the link.
    struct Unlink {
        std::wstring path;
        std::string unixPath;
        ~Unlink() {
            if (StartLinuxCommand("Z:\\bin\\rm -f \"" + unixPath + "\"")) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
                while (FileExists(path) && std::chrono::steady_clock::now() < deadline) Sleep(20);
            }
        }
    } unlink{link, UnixPathOf(link)};
    ASSERT_FALSE(unlink.unixPath.empty());
    ASSERT_TRUE(StartLinuxCommand("Z:\\bin\\ln -s \"" + UnixPathOf(real) + "\" \"" +
                                  unlink.unixPath + "\""));
    ASSERT_TRUE(WaitForFile(link, std::chrono::seconds(60)));
    WriteAnsi(dir / L"Clearon.ini", ConfigWith("LogPath=" + Narrow(link)));

    ExpectCleanExit(RunAnsweringBoxes(dir));

    EXPECT_TRUE(LogFilesIn(real).empty());
    const auto lines = LogLines(ReadUtf16File(dir / std::wstring(kErrorLogName)));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(IsTimestamp(std::wstring_view(lines[0]).substr(0, kTimestampLength)));
    EXPECT_TRUE(lines[0].substr(kTimestampLength).starts_with(kLogRefusedMovedLog) &&
                lines[0].ends_with(L"\\real\\" + RunLogName() +
                                   std::wstring(kLogRefusedMovedLogEnd.substr(
                                       0, kLogRefusedMovedLogEnd.size() - 2))))
        << Narrow(lines[0]);
    EXPECT_EQ(ExpectRunFrame(lines, 1), lines.size());
}

// Clearon.exe at the root of C:, started from another folder that holds a
// broken Clearon.ini: the configuration beside the executable is the one used.
TEST(RunLog, ExecutableAtTheDriveRootReadsTheConfigurationBesideIt) {
    const std::wstring exe = L"C:\\Clearon.exe";
    const std::wstring config = L"C:\\Clearon.ini";
    if (FileExists(exe) || FileExists(config)) GTEST_SKIP() << "C:\\Clearon.* exists already";
    RemoveOnExit removeExe{exe};
    RemoveOnExit removeConfig{config};
    RemoveOnExit removeLog{L"C:\\" + RunLogName()};
    RemoveOnExit removeErrorLog{L"C:\\" + std::wstring(kErrorLogName)};
    CopyFileOrFail(ClearonExePath(), exe);
    WriteAnsi(config, kMinimalConfig);
    ScratchDir elsewhere(L"log-root-cwd");
    WriteBytes(elsewhere / L"Clearon.ini", {});  // blank: would end with 38

    const ProcessResult result =
        RunAndWait(L"\"" + exe + L"\"", elsewhere.path(), std::chrono::seconds(60));

    ASSERT_TRUE(result.exitCode.has_value());
    EXPECT_EQ(*result.exitCode, 0u);
    ExpectOneRun(LogLines(ReadUtf16File(L"C:\\" + RunLogName())));
    EXPECT_TRUE(LogFilesIn(elsewhere.path()).empty());
}

}  // namespace
}  // namespace clearon::test
