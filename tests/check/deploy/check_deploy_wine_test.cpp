// ClearonCheck deploy against the real Clearon.exe under Wine, as a
// deployment system runs it from the package folder: a clean removal, a
// product that stays, a restart-needed run, a failed and a missing
// installer, a refused Clearon.ini, a Clearon that outlives the limit, and
// ClearonCheck's own failures (a command line it does not understand, a
// missing Clearon.exe), with what each run of Clearon left in
// HKLM\SOFTWARE\Tessaral\ClearonLastRun. Also report --csv written to a
// redirected file: its exact bytes, with and without --bom.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <optional>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "check/check_wine.h"
#include "platform/handles.h"
#include "support/win/fixture_products.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

const std::wstring kGone = L"ClearonDeployGone";
const std::wstring kStays = L"ClearonDeployStays";

struct Streams {
    std::optional<DWORD> exitCode;
    std::string out;
    std::string err;
};

// Runs `commandLine` in `folder` with its standard output in `outFile` and
// its standard error in `errFile` (the same file when that is empty), as
// "ClearonCheck report ... > rows.csv" or an agent that logs both streams
// does; bounded by four minutes.
Streams RunIntoFiles(const std::wstring& commandLine, const std::wstring& folder,
                     const std::wstring& outFile, const std::wstring& errFile = L"") {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Streams streams;
    {
        const auto create = [&](const std::wstring& file) {
            return UniqueFileHandle(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                                &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
        };
        UniqueFileHandle out = create(outFile);
        UniqueFileHandle err = errFile.empty() ? UniqueFileHandle() : create(errFile);
        EXPECT_TRUE(out.valid());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = errFile.empty() ? out.get() : err.get();
        PROCESS_INFORMATION info{};
        std::wstring line = commandLine;
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   folder.c_str(), &startup, &info));
        UniqueProcessInformation process;
        process.Adopt(info);
        if (WaitForSingleObject(process.process.get(), 240'000) == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (GetExitCodeProcess(process.process.get(), &code)) streams.exitCode = code;
        }
    }
    const std::vector<std::uint8_t> out = ReadBytes(outFile);
    streams.out.assign(out.begin(), out.end());
    if (!errFile.empty()) {
        const std::vector<std::uint8_t> err = ReadBytes(errFile);
        streams.err.assign(err.begin(), err.end());
    }
    return streams;
}

class CheckDeployWine : public ::testing::Test {
protected:
    ScratchDir dir{L"deploy"};

    void SetUp() override {
        Wipe();
        CopyFileOrFail(ClearonExePath(), dir / L"Clearon.exe");
        CopyFileOrFail(ClearonCheckPath(), dir / L"ClearonCheck.exe");
        CopyFileOrFail(TestProgramPath(L"aegira_setup_standin.exe"), dir / L"setup.exe");
        CreateKey(HKEY_CURRENT_USER, kRunOnceKey);  // a fresh Wine prefix lacks it
    }
    void TearDown() override { Wipe(); }

    static void Wipe() { WipeClearonRun({kGone, kStays}); }

    // A silent, unattended Clearon.ini with these extra [Settings] lines.
    void Configure(const std::string& settings) const {
        WriteAnsi(dir / L"Clearon.ini", "[Settings]\r\nShowGUI=N\r\nAskBeforeRemoval=N\r\n" +
                                            settings + "[ProductNames]\r\nBilby Deploy\r\n");
    }

    [[nodiscard]] ProcessResult Deploy(const std::wstring& options = L"") const {
        return RunAndWait(L"\"" + (dir / L"ClearonCheck.exe") + L"\" deploy " + options, dir.path(),
                          240s);
    }

    // deploy with standard output and error apart: stdout holds the answer
    // alone, stderr the progress.
    [[nodiscard]] Streams DeployApart(const std::wstring& options) const {
        return RunIntoFiles(L"\"" + (dir / L"ClearonCheck.exe") + L"\" deploy " + options,
                            dir.path(), dir / L"out.txt", dir / L"err.txt");
    }

    [[nodiscard]] std::wstring LogPath() const {
        return dir / (L"Clearon." + ComputerName() + L".log");
    }
};

void ExpectOutcome(const ProcessResult& ran, DWORD code, const std::string& line) {
    ASSERT_TRUE(ran.exitCode.has_value()) << "ClearonCheck deploy did not end in time";
    EXPECT_EQ(*ran.exitCode, code) << ran.standardOutput;
    EXPECT_NE(ran.standardOutput.find(line), std::string::npos) << ran.standardOutput;
}

const std::wstring kLastRun = L"SOFTWARE\\Tessaral\\ClearonLastRun";

std::optional<DWORD> LastRunDword(const wchar_t* value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kLastRun.c_str(), value, RRF_RT_REG_DWORD, nullptr, &data,
                     &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return data;
}

// The key a finished run of Clearon.exe left: its word, its own exit code,
// Clearon's count of products that stayed, and the rest of its values.
void ExpectLastRun(const std::string& outcome, DWORD clearonExitCode, DWORD productsRemaining) {
    EXPECT_EQ(Narrow(GetString(HKEY_LOCAL_MACHINE, kLastRun, L"Outcome").value_or(L"-")), outcome);
    EXPECT_EQ(LastRunDword(L"ExitCode"), clearonExitCode);
    EXPECT_EQ(LastRunDword(L"ProductsRemaining"), productsRemaining);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kLastRun, L"Version"), L"" CLEARON_VERSION_TEXT);
    const std::regex utc("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ");
    for (const wchar_t* value : {L"Started", L"Finished"}) {
        const std::string text =
            Narrow(GetString(HKEY_LOCAL_MACHINE, kLastRun, value).value_or(L""));
        EXPECT_TRUE(std::regex_match(text, utc)) << Narrow(value) << ": " << text;
    }
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kLastRun, L"ConfigSha256").value_or(L"").size(), 64u);
}

TEST_F(CheckDeployWine, ACleanRemovalIsDoneAndItsLogGoesToTheShare) {
    RegisterScriptedProduct(kGone, L"Bilby Deploy Gone", true);
    Configure("ResumeAfterReboot=N\r\nRunAfterRemoval=setup.exe /version=11.0.5002.333\r\n");
    CreateDirectoryW((dir / L"share").c_str(), nullptr);
    // The run before this one stays in the log; only the new run counts.
    WriteUtf16(LogPath(),
               L"Computer Name: OLD\r\n07/04/2026 09:05:01:007 Clearon starting!\r\n"
               L"07/04/2026 09:05:02:007 Failed to remove Old Product\r\n",
               false);
    // What follows "--" reaches Clearon (and Aegira's installer) as written.
    const Streams ran =
        DeployApart(L"--log-share \"" + (dir / L"share") + L"\" --json -- /q PROP=\"a b\"");
    ASSERT_TRUE(ran.exitCode.has_value());
    EXPECT_EQ(*ran.exitCode, 0u) << ran.out << ran.err;
    const auto json = nlohmann::json::parse(ran.out);
    EXPECT_EQ(json.at("outcome"), "done");
    EXPECT_EQ(json.at("clearon_exit_code"), 0);
    EXPECT_NE(ran.err.find("ClearonCheck deploy: started"), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find("ClearonCheck deploy: copied the log to"), std::string::npos) << ran.err;
    EXPECT_EQ(json.at("run").at("removed"), nlohmann::json::array({"Bilby Deploy Gone"}));
    // Named without a folder, the installer runs by the full path found.
    EXPECT_EQ(json.at("run").at("programs").back().at("command_line"),
              Narrow(dir / L"setup.exe") + " /version=11.0.5002.333 /q PROP=\"a b\"");
    EXPECT_EQ(ReadBytes(dir / (L"share\\Clearon." + ComputerName() + L".log")),
              ReadBytes(LogPath()));
    ExpectLastRun("done", 0, 0);
}

TEST_F(CheckDeployWine, AProductThatStaysIsOne) {
    RegisterScriptedProduct(kStays, L"Bilby Deploy Stays", false, L"/exit=3");
    Configure("ResumeAfterReboot=N\r\n");
    ExpectOutcome(Deploy(), 1, "Clearon: 1 product(s) stayed installed (exit 1)");
    ExpectLastRun("product-stayed", 1, 1);
}

TEST_F(CheckDeployWine, AnInstallerThatNeedsARestartIs3010) {
    // Aegira reports itself only after a restart: Clearon registers its resume.
    WriteAnsi(dir / L"aegira_setup.hold", "hold");
    Configure("ResumeAfterReboot=Y\r\nRunAfterRemoval=setup.exe /version=11.0.5002.333\r\n");
    ExpectOutcome(Deploy(), 3010, "Clearon: a restart is needed to finish (exit 3010)");
    EXPECT_TRUE(GetString(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon").has_value());
    ExpectLastRun("restart-needed", 0, 0);
}

TEST_F(CheckDeployWine, AnInstallerThatRestartsTheMachineItselfIs1641) {
    Configure(
        "ResumeAfterReboot=N\r\nRunAfterRemoval=setup.exe /version=11.0.5002.333 "
        "/exit=1641\r\n");
    ExpectOutcome(Deploy(), 1641, "Clearon: a restart is needed to finish (exit 1641)");
    ExpectLastRun("restart-needed", 0, 0);
}

TEST_F(CheckDeployWine, AFailedOrMissingInstallerIsNeverARestart) {
    // Clearon registers its resume here too (the installer ran, Aegira is
    // missing): only the log tells the failure.
    Configure("ResumeAfterReboot=Y\r\nRunAfterRemoval=setup.exe /exit=1625\r\n");
    ExpectOutcome(Deploy(), 1625, "Aegira's installer failed with 1625 (exit 1625)");
    EXPECT_TRUE(GetString(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon").has_value());

    DeleteValue(HKEY_CURRENT_USER, kRunOnceKey, L"Clearon");
    Configure("ResumeAfterReboot=Y\r\nRunAfterRemoval=nosetup.exe\r\n");
    ExpectOutcome(Deploy(), 1603, "Aegira's installer could not be started (exit 1603)");
}

TEST_F(CheckDeployWine, ARefusedClearonIniEndsBeforeClearonStarts) {
    WriteAnsi(dir / L"Clearon.ini", "");
    const ProcessResult ran = Deploy();
    ExpectOutcome(ran, 38, "(exit 38)");
    EXPECT_NE(ran.standardOutput.find("Clearon would refuse"), std::string::npos);
    // Clearon.exe never ran: it would have written its error log.
    EXPECT_FALSE(FileExists(dir / L"Clearon_Err.log"));
}

TEST_F(CheckDeployWine, AClearonThatOutlivesTheLimitIsLeftRunning) {
    CopyFileOrFail(TestProgramPath(L"test_uninstaller.exe"), dir / L"wait.exe");
    Configure("ResumeAfterReboot=N\r\nRunBeforeRemoval=wait.exe /sleep=20000\r\n");
    const ProcessResult ran = Deploy(L"--time-limit 0.05");  // 3 seconds
    ExpectOutcome(ran, 1460, "time limit");
    EXPECT_NE(ran.standardOutput.find("Clearon.exe's own exit code: none"), std::string::npos)
        << ran.standardOutput;
    // Progress is written as it happens, so it stands before the answer,
    // which is written at the end.
    EXPECT_LT(ran.standardOutput.find("ClearonCheck deploy: started"),
              ran.standardOutput.find("Clearon: "))
        << ran.standardOutput;
    // Clearon goes on and finishes its run on its own.
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadUtf16File(LogPath()).find(L" Clearon stopping!") != std::wstring::npos; },
        180s));
}

// ClearonCheck's own failures end with codes of its private range, outside
// Configuration Manager's retry list and Windows Installer's 1600-1699.
TEST_F(CheckDeployWine, ItsOwnFailuresEndWithCodesNoDeploymentSystemMisreads) {
    Configure("ResumeAfterReboot=N\r\n");
    ExpectOutcome(Deploy(L"--time-limit 0"), 60001, "time-limit");

    ASSERT_TRUE(DeleteFileW((dir / L"Clearon.exe").c_str()));
    const Streams ran = DeployApart(L"--json");
    ASSERT_TRUE(ran.exitCode.has_value());
    EXPECT_EQ(*ran.exitCode, 60002u) << ran.out << ran.err;
    const auto json = nlohmann::json::parse(ran.out);
    EXPECT_EQ(json.at("exit_code"), 60002);
    EXPECT_TRUE(json.at("clearon_exit_code").is_null());
    EXPECT_NE(ran.err.find("Clearon.exe is missing"), std::string::npos) << ran.err;
}

TEST_F(CheckDeployWine, ReportCsvInARedirectedFileEndsEveryRowWithOneCrLf) {
    CreateDirectoryW((dir / L"logs").c_str(), nullptr);
    WriteUtf16(dir / L"logs\\Clearon.WS1.log",
               L"Computer Name: WS1\r\n07/04/2026 09:05:01:007 Clearon starting!\r\n"
               L"07/04/2026 09:05:02:007 Clearon stopping!\r\n",
               false);
    const auto report = [&](const std::wstring& options) {
        const std::string text = RunIntoFiles(L"\"" + ClearonCheckPath() + L"\" report \"" +
                                                  (dir / L"logs") + L"\" " + options,
                                              dir.path(), dir / L"rows.csv")
                                     .out;
        return std::vector<std::uint8_t>(text.begin(), text.end());
    };
    const std::vector<std::uint8_t> bytes = report(L"--csv");
    ASSERT_FALSE(bytes.empty());
    // --bom puts the UTF-8 byte-order mark before the very same bytes.
    std::vector<std::uint8_t> marked{0xEF, 0xBB, 0xBF};
    marked.insert(marked.end(), bytes.begin(), bytes.end());
    EXPECT_EQ(report(L"--csv --bom"), marked);
    std::size_t rows = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++rows;
            ASSERT_GE(i, 2u);
            EXPECT_EQ(bytes[i - 1], '\r');
            EXPECT_NE(bytes[i - 2], '\r') << "CR CR LF at byte " << i;
        } else if (bytes[i] == '\r') {
            ASSERT_LT(i + 1, bytes.size());
            EXPECT_EQ(bytes[i + 1], '\n');
        }
    }
    EXPECT_EQ(rows, 2u);  // the header and the one run
    EXPECT_EQ(bytes.back(), '\n');
}

// On a console ClearonCheck writes UTF-16 and leaves the console's output
// code page as it found it: the administrator's next command still reads.
TEST_F(CheckDeployWine, OnAConsoleTheCodePageIsLeftAsFound) {
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    ASSERT_TRUE(SetConsoleOutputCP(437));
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    UniqueKernelHandle console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(console.get(), INVALID_HANDLE_VALUE);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = console.get();
    startup.hStdError = console.get();
    std::wstring line = L"\"" + ClearonCheckPath() + L"\" --version";
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                               &startup, &info))
        << GetLastError();
    UniqueProcessInformation process;
    process.Adopt(info);
    ASSERT_EQ(WaitForSingleObject(process.process.get(), 60'000), WAIT_OBJECT_0);

    EXPECT_EQ(GetConsoleOutputCP(), 437u);
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console.get(), &buffer));
    std::wstring shown(static_cast<std::size_t>(buffer.dwSize.X) * buffer.dwSize.Y, L' ');
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(console.get(), shown.data(),
                                            static_cast<DWORD>(shown.size()), {0, 0}, &read));
    EXPECT_NE(shown.find(L"ClearonCheck " CLEARON_VERSION_TEXT), std::wstring::npos);
    console.reset();
    FreeConsole();
}

}  // namespace
}  // namespace clearon::test
