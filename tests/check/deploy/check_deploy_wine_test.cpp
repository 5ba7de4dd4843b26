// ClearonCheck deploy against the real Clearon.exe under Wine, as a
// deployment system runs it from the package folder: a clean removal, a
// product that stays, a restart-needed run, a failed and a missing
// installer, a refused Clearon.ini and a Clearon that outlives the limit,
// with what each run left in HKLM\SOFTWARE\Tessaral\ClearonLastRun.
// Also report --csv written to a redirected file: its exact bytes.
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
    const ProcessResult ran =
        Deploy(L"--log-share \"" + (dir / L"share") + L"\" --json -- /q PROP=\"a b\"");
    ASSERT_TRUE(ran.exitCode.has_value());
    EXPECT_EQ(*ran.exitCode, 0u) << ran.standardOutput;
    const auto json = nlohmann::json::parse(ran.standardOutput);
    EXPECT_EQ(json.at("outcome"), "done");
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
    // Clearon goes on and finishes its run on its own.
    EXPECT_TRUE(WaitUntil(
        [&] { return ReadUtf16File(LogPath()).find(L" Clearon stopping!") != std::wstring::npos; },
        180s));
}

// Runs ClearonCheck with its standard output redirected to a file, as
// "ClearonCheck report ... > rows.csv" does.
std::vector<std::uint8_t> RunIntoFile(const std::wstring& arguments, const std::wstring& file) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    {
        UniqueFileHandle out(CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(out.valid());
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.get();
        startup.hStdError = out.get();
        PROCESS_INFORMATION info{};
        std::wstring line = L"\"" + ClearonCheckPath() + L"\" " + arguments;
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                   nullptr, &startup, &info));
        UniqueProcessInformation process;
        process.Adopt(info);
        EXPECT_EQ(WaitForSingleObject(process.process.get(), 60'000), WAIT_OBJECT_0);
    }
    return ReadBytes(file);
}

TEST_F(CheckDeployWine, ReportCsvInARedirectedFileEndsEveryRowWithOneCrLf) {
    CreateDirectoryW((dir / L"logs").c_str(), nullptr);
    WriteUtf16(dir / L"logs\\Clearon.WS1.log",
               L"Computer Name: WS1\r\n07/04/2026 09:05:01:007 Clearon starting!\r\n"
               L"07/04/2026 09:05:02:007 Clearon stopping!\r\n",
               false);
    const std::vector<std::uint8_t> bytes =
        RunIntoFile(L"report \"" + (dir / L"logs") + L"\" --csv", dir / L"rows.csv");
    ASSERT_FALSE(bytes.empty());
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

}  // namespace
}  // namespace clearon::test
