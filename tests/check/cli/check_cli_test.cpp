// ClearonCheck's command line: the console conventions (help, version,
// errors on stderr, unknown options refused), result on log files, the
// --json documents parsed as a script would, and lint --unattended.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"
#include "check/lint/unattended_lint.h"
#include "support/host/run_log_text.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;
using test::At;
using test::Utf16;

struct Ran {
    int status;
    std::wstring out;
    std::wstring err;
};

Ran Check(const std::vector<std::wstring>& arguments) {
    CheckPlatform platform;
    platform.environment = [](std::wstring_view name) -> std::optional<std::wstring> {
        if (name == L"SystemRoot") return std::wstring(L"C:\\Windows");
        return std::nullopt;
    };
    Ran ran{0, {}, {}};
    ran.status = RunCheck(arguments, platform, ran.out, ran.err);
    return ran;
}

class CheckCli : public ::testing::Test {
protected:
    fs::path dir =
        fs::temp_directory_path() /
        ("clearon-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    std::wstring Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        std::ofstream file(dir / name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return (dir / name).wstring();
    }
};

TEST_F(CheckCli, ConsoleConventions) {
    const std::wstring ini =
        Write("Clearon.ini", {'[', 'S', 'e', 't', 't', 'i', 'n', 'g', 's', ']', '\r', '\n'});
    const std::wstring version = L"ClearonCheck " + FromUtf8(CLEARON_VERSION_TEXT) + L"\n";
    struct Case {
        std::vector<std::wstring> arguments;
        int status;
        const wchar_t* inOut;  // nullptr: stdout stays empty
        const wchar_t* inErr;  // nullptr: stderr stays empty
    };
    const Case cases[] = {
        {{L"--help"}, 0, L"Usage:", nullptr},
        {{L"-h"}, 0, L"Usage:", nullptr},
        {{L"/?"}, 0, L"Usage:", nullptr},
        {{L"report", L"/?"}, 0, L"folder", nullptr},
        {{L"--version"}, 0, version.c_str(), nullptr},
        {{}, kCheckUsage, nullptr, L"Usage:"},
        {{L"frobnicate"}, kCheckUsage, nullptr, L"Usage:"},
        // An option it does not know is refused, not read as a file name.
        {{L"lint", L"--frob"}, kCheckUsage, nullptr, L"--frob"},
        {{L"lint", L"-x", ini}, kCheckUsage, nullptr, L"-x"},
        {{L"report", dir.wstring(), L"--csv", L"--json"}, kCheckUsage, nullptr, L"Usage:"},
        {{L"report", dir.wstring(), L"--bom"}, kCheckUsage, nullptr, L"--csv"},
        {{L"report", dir.wstring(), L"--max-input", L"4X"}, kCheckUsage, nullptr, L"max-input"},
        {{L"report", dir.wstring(), L"--max-input", L"-1"}, kCheckUsage, nullptr, L"max-input"},
        {{L"report", dir.wstring(), L"--max-input", L"1.5G"}, kCheckUsage, nullptr, L"max-input"},
        {{L"report", dir.wstring(), L"--max-input", L"16777216T"},
         kCheckUsage,
         nullptr,
         L"max-input"},
        {{L"report", dir.wstring(), L"--max-input", L"17179869184G"},
         kCheckUsage,
         nullptr,
         L"max-input"},  // 2^64
        {{L"lint", ini, L"--", L"/x"}, kCheckUsage, nullptr, L"deploy"},
        {{L"deploy", L"--time-limit", L"0"}, kCheckUsage, nullptr, L"time-limit"},
        {{L"deploy"}, kCheckUsage, nullptr, L"Windows"},  // no Clearon.exe to run here
        {{L"result", (dir / "none.log").wstring()}, kCheckNoRun, L"(exit 60004)", L"cannot read"},
        {{L"report", (dir / "none").wstring()}, kReportNoFolder, nullptr, L"cannot read"},
    };
    for (const Case& c : cases) {
        const Ran ran = Check(c.arguments);
        SCOPED_TRACE(ToUtf8(c.arguments.empty() ? L"(none)" : c.arguments.front()) +
                     " / out: " + ToUtf8(ran.out) + " / err: " + ToUtf8(ran.err));
        EXPECT_EQ(ran.status, c.status);
        if (c.inOut == nullptr)
            EXPECT_TRUE(ran.out.empty());
        else
            EXPECT_NE(ran.out.find(c.inOut), std::wstring::npos);
        if (c.inErr == nullptr)
            EXPECT_TRUE(ran.err.empty());
        else
            EXPECT_NE(ran.err.find(c.inErr), std::wstring::npos);
    }
}

// ClearonCheck's own failures: no deployment system may take them for a
// result it knows, and the usage names each.
TEST(CheckCodes, NoneIsACodeADeploymentSystemReadsOtherwise) {
    // Configuration Manager's default ExecutionFailureRetryErrorCodes.
    const std::set<int> retried = {4,    5,    8,    13,   14,   39,   51,   53,   54,   55,
                                   59,   64,   65,   67,   70,   71,   85,   86,   87,   112,
                                   128,  170,  267,  999,  1003, 1203, 1219, 1220, 1222, 1231,
                                   1232, 1238, 1265, 1311, 1323, 1326, 1330, 1618, 1622, 2250};
    const std::wstring help = Check({L"--help"}).out;
    std::set<int> seen;
    for (const int code : {kCheckUsage, kCheckClearonNotStarted, kCheckPreviewFault, kCheckNoRun,
                           kCheckNotElevated, kCheckUnexpectedError}) {
        EXPECT_EQ(retried.count(code), 0u) << code;
        EXPECT_FALSE(code >= 1600 && code <= 1699) << code;
        EXPECT_TRUE(seen.insert(code).second) << code;
        // The no-run code is named with result and deploy, as its mapping says.
        if (code != kCheckNoRun) {
            EXPECT_NE(help.find(L"  " + std::to_wstring(code) + L" "), std::wstring::npos) << code;
        }
    }
    EXPECT_NE(kCheckUnexpectedErrorText.find(std::to_wstring(kCheckUnexpectedError)),
              std::wstring::npos);
}

TEST_F(CheckCli, ResultAndReportJsonFollowTheirSchemas) {
    const std::wstring run = L"Computer Name: WS1\r\n" + At(1, L" Clearon starting!") +
                             At(2, L" Removing: Numbat AV") +
                             At(3, L" Attempting to run: MsiExec.exe /X{1} /qn") +
                             At(4, L" Exit code: 1603") + At(5, L" Failed to remove Numbat AV") +
                             At(6, L" Attempting to run: setup.exe") + At(7, L" Exit code: 0") +
                             At(8, L" Aegira 11.2 is installed.") + At(9, L" Clearon stopping!");
    const std::wstring log = Write("Clearon.WS1.log", Utf16(run));

    Ran ran = Check({L"result", log});
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.out, L"Clearon: 1 product(s) stayed installed (exit 1)\n");

    ran = Check({L"result", log, L"--json"});
    EXPECT_EQ(ran.status, 1);
    const auto result = nlohmann::json::parse(ToUtf8(ran.out));
    EXPECT_EQ(result.at("schema"), "clearon-check/result/1");
    EXPECT_EQ(result.at("exit_code"), 1);
    EXPECT_EQ(result.at("outcome"), "product-stayed");
    const auto& parsedRun = result.at("run");
    EXPECT_EQ(parsedRun.at("computer"), "WS1");
    EXPECT_EQ(parsedRun.at("failed"), nlohmann::json::array({"Numbat AV"}));
    EXPECT_EQ(parsedRun.at("programs").size(), 2u);
    EXPECT_EQ(parsedRun.at("programs")[0].at("exit_code"), "1603");
    EXPECT_TRUE(parsedRun.at("programs")[0].at("uninstaller").get<bool>());
    EXPECT_EQ(parsedRun.at("aegira"), "installed");
    EXPECT_EQ(parsedRun.at("aegira_version"), "11.2");
    EXPECT_TRUE(parsedRun.at("stop_line").get<bool>());

    // A lone surrogate in a display name still gives valid JSON.
    Write("Clearon.WS2.log", Utf16(L"Computer Name: WS2\r\n" + At(1, L" Clearon starting!") +
                                   At(2, L" User chose not to remove: A\xD800Z")));
    ran = Check({L"report", dir.wstring(), L"--json"});
    EXPECT_EQ(ran.status, kReportAttention);
    const auto report = nlohmann::json::parse(ToUtf8(ran.out));
    EXPECT_EQ(report.at("schema"), "clearon-check/report/1");
    ASSERT_EQ(report.at("files").size(), 2u);
    EXPECT_EQ(report.at("files")[1].at("runs")[0].at("declined")[0], "A\xEF\xBF\xBDZ");
    EXPECT_EQ(report.at("totals").at("runs"), 2);
    EXPECT_EQ(report.at("totals").at("runs_without_stop"), 1);
    EXPECT_EQ(report.at("totals").at("failed"), 1);
}

TEST(CheckCliDeploy, ArgumentsAfterTheDashesReachClearonAsGiven) {
    // As CommandLineToArgvW splits them again.
    EXPECT_EQ(JoinArguments({L"/q", L"a b", L"", L"say \"hi\"", L"C:\\x\\", L"C:\\y z\\"}),
              L"/q \"a b\" \"\" \"say \\\"hi\\\"\" C:\\x\\ \"C:\\y z\\\\\"");
}

TEST(CheckCliDeploy, TheRawTextAfterTheDashesIsHandedOnUnchanged) {
    const struct {
        std::wstring commandLine;
        std::wstring expected;  // "<none>": no "--"
    } cases[] = {
        {L"ClearonCheck.exe deploy -- PROP=\"a b\" /q", L"PROP=\"a b\" /q"},
        {L"\"C:\\Tools x\\ClearonCheck.exe\" deploy --time-limit 5 --   /q  \"x\"", L"/q  \"x\""},
        {L"ClearonCheck.exe deploy \"--\" a\\\"b", L"a\\\"b"},
        {L"ClearonCheck.exe deploy \"a -- b\" -- c", L"c"},
        {L"ClearonCheck.exe deploy ---- c", L"<none>"},
        {L"ClearonCheck.exe deploy --", L""},
        {L"ClearonCheck.exe deploy", L"<none>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RawTextAfterDoubleDash(c.commandLine).value_or(L"<none>"), c.expected);
    }
}

// Clearon's folder (the configuration's) is asked about by its full path,
// and a folder others can change is one more warning of --unattended.
TEST_F(CheckCli, UnattendedLintWarnsOfAClearonFolderOthersCanChange) {
    const std::string ini =
        "[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\n"
        "ProgramTimeLimit=5\r\nAllowedWriterSids=S-1-5-21-1-2-3-1105\r\n"
        "[ProductNames]\r\nWombat Guard\r\n[UninstallPaths]\r\n";
    const std::wstring path = Write("Clearon.ini", {ini.begin(), ini.end()});
    for (const bool changeable : {false, true}) {
        CheckPlatform platform;
        std::wstring asked;
        platform.folderChangeableByOthers =
            [&](const std::wstring& folder,
                const Settings& settings) -> std::optional<std::wstring> {
            asked = folder;
            EXPECT_EQ(settings.AllowedWriterSids,
                      std::vector<std::wstring>{L"S-1-5-21-1-2-3-1105"});
            if (!changeable) return std::nullopt;
            return L"S-1-5-11 may add files to " + folder;
        };
        Ran ran{0, {}, {}};
        ran.status = RunCheck({L"lint", L"--unattended", path}, platform, ran.out, ran.err);
        EXPECT_EQ(asked, dir.wstring());
        EXPECT_EQ(ran.status, changeable ? kLintWarnings : kLintClean) << ToUtf8(ran.out);
        EXPECT_EQ(ran.out.find(L"(S-1-5-11 may add files to " + dir.wstring() + L")") !=
                      std::wstring::npos,
                  changeable)
            << ToUtf8(ran.out);
    }
}

TEST(UnattendedLint, EveryTrapOfARunAsSystem) {
    const auto environment = [](std::wstring_view name) -> std::optional<std::wstring> {
        if (name == L"SystemRoot") return std::wstring(L"C:\\WINDOWS");
        if (name == L"PUBLIC") return std::wstring(L"C:\\Users\\Public");
        if (name == L"LOGS") return std::wstring(L"\\\\srv\\logs$");
        return std::nullopt;
    };
    struct Case {
        const wchar_t* config;
        std::vector<const wchar_t*> found;  // a piece of each finding, in order
        std::size_t notes = 0;              // findings that tell what Clearon does, no trap
    };
    const Case cases[] = {
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=30\r\n"
         L"LogPath=%LOGS%\\c\r\n",
         {}},
        {L"[Settings]\r\n",
         {L"Clearon answers it Yes, its default button, and logs the question",
          L"ResumeAfterReboot", L"no ProgramTimeLimit"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nShowGUI=Y\r\n"
         L"ShowMessageBox=Y\r\nMessageBoxText=Removing old antivirus\r\nProgramTimeLimit=0\r\n",
         {L"ends with 1459 having done nothing",
          L"ShowMessageBox=Y: as SYSTEM nobody can see "
          L"the notice, so Clearon logs it instead of showing it",
          L"no ProgramTimeLimit"},
         1},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nShowGUI=Y\r\n"
         L"AutoRunAfterUILoads=Y\r\nProgramTimeLimit=5\r\nEnableLogging=N\r\n",
         {L"leaves it out, and runs silently; with EnableLogging=N nothing says so",
          L"such as too little free space on the "
          L"system drive, reach nobody"},
         1},
        // Without a log, what Clearon would log where nobody sees it goes nowhere.
        {L"[Settings]\r\nResumeAfterReboot=N\r\nShowGUI=Y\r\nShowMessageBox=Y\r\n"
         L"MessageBoxText=Removing old antivirus\r\nProgramTimeLimit=5\r\nEnableLogging=N\r\n",
         {L"so Clearon ends with 1459 having done nothing, and with EnableLogging=N nothing says "
          L"why",
          L"its default button, and with EnableLogging=N writes the question nowhere",
          L"does not show it, and with EnableLogging=N does not log it either", L"reach nobody"},
         1},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"EnableLogging=N\r\n",
         {L"space on the system drive, go to standard output only"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=%SystemRoot%\\Temp\\Clearon\r\n",
         {L"C:\\WINDOWS\\Temp"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"AllowUserWritablePrograms=Y\r\n",
         {L"AllowUserWritablePrograms=Y"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=c:\\temp\r\n",
         {L"C:\\Temp"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\Users\\Public\\Logs\r\n",
         {L"C:\\Users\\Public"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\\r\n",
         {L"C:\\"}},
        // A folder an installer makes at a drive root or below ProgramData
        // inherits the users' rights there; Windows' own folders and the
        // ones their makers lock down do not.
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\ProgramData\\Clearon\\Logs\r\n",
         {L"C:\\ProgramData\\Clearon,"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\Logs\r\n",
         {L"C:\\Logs,"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=d:/Deploy/Logs/\r\n",
         {L"d:\\Deploy,"}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\ProgramData\\Microsoft\\IntuneManagementExtension\\Logs\r\n",
         {}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\ProgramData\r\n",
         {}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\Windows\\Temporary\r\n",
         {}},
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"LogPath=C:\\Program Files\\Acme\\Logs\r\n",
         {}},
        // Log files handed to installers, by a setting or a program line.
        {L"[Settings]\r\nAskBeforeRemoval=N\r\nResumeAfterReboot=N\r\nProgramTimeLimit=5\r\n"
         L"MSIExtraParameters=/l*v C:\\Windows\\Temp\\x.log\r\n"
         L"InstallShieldExtraParameters=/f2\"C:\\Logs\\is.log\"\r\n"
         L"DefaultExtraParameters=/LOG=%SystemRoot%\\Logs\\x.log /L C:\\Windows\\Logs\\y.log\r\n"
         L"RunAfterRemoval=setup.exe /s /v\"/qn /log C:\\Users\\Public\\s.log\"\r\n",
         {L"MSIExtraParameters hands an installer the log file \"C:\\Windows\\Temp\\x.log\"",
          L"InstallShieldExtraParameters hands an installer the log file \"C:\\Logs\\is.log\"",
          L"RunAfterRemoval hands an installer the log file \"C:\\Users\\Public\\s.log\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToUtf8(c.config));
        Settings settings;
        (void)ReadSettings(c.config, settings);
        const std::vector<Finding> findings = LintUnattended(c.config, settings, environment);
        std::string all;
        for (const Finding& f : findings) all += ToUtf8(f.text) + "\n";
        ASSERT_EQ(findings.size(), c.found.size()) << all;
        EXPECT_EQ(std::count_if(findings.begin(), findings.end(),
                                [](const Finding& f) { return f.severity == Severity::Note; }),
                  static_cast<std::ptrdiff_t>(c.notes))
            << all;
        for (std::size_t i = 0; i < findings.size(); ++i) {
            EXPECT_NE(findings[i].text.find(c.found[i]), std::wstring::npos)
                << ToUtf8(findings[i].text);
        }
    }
}

}  // namespace
}  // namespace clearon::check
