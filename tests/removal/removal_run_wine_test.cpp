// The whole tool as a black box under Wine: the real Clearon.exe in a folder
// of its own with a Clearon.ini, real products installed in the prefix (a
// Windows Installer package, an NSIS product that relaunches its uninstaller,
// products played by the test uninstaller), a stand-in for Aegira's installer
// as setup.exe beside the tool, and the "Question" boxes answered as a person
// would. Each test checks what an administrator checks: the exit code, the
// run log, the products left installed and the registry values.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "log/log_format.h"
#include "log/log_texts.h"
#include "platform/handles.h"
#include "platform/platform_info.h"
#include "startup/removal_start.h"
#include "resume/pending_renames.h"
#include "resume/reboot_resume.h"
#include "platform/run_state.h"
#include "startup/clearon_run.h"
#include "startup/run_context.h"
#include "support/win/fixture_products.h"
#include "support/win/wine_test_support.h"

namespace clearon::test {
namespace {

using namespace std::chrono_literals;

const std::wstring kSessionManager(kSessionManagerKey);
const std::wstring kPending(kPendingRenamesValue);
const std::wstring kAside(kPendingRenamesAsideValue);
const std::wstring kRunOnce(kRunOnceKey);
const std::wstring kTessaral = L"SOFTWARE\\Tessaral";
const std::wstring kAegiraVersion = L"11.0.5002.333";

// Products played by the test uninstaller; each test owns these entries.
const std::wstring kWholeSubkey = L"ClearonRunWombatWhole";
const std::wstring kGoneSubkey = L"ClearonRunWombatGone";
const std::wstring kStubbornSubkey = L"ClearonRunWombatStubborn";
const std::wstring kDeclinedSubkey = L"ClearonRunWombatDeclined";
const std::wstring kPendingSubkey = L"ClearonRunWombatPending";
const std::wstring kScriptedSubkeys[] = {kWholeSubkey, kGoneSubkey, kStubbornSubkey,
                                         kDeclinedSubkey, kPendingSubkey};

// Files the installer stand-in keeps beside itself.
const std::wstring kSetupCalls = L"aegira_setup_calls.txt";
const std::wstring kSetupHold = L"aegira_setup.hold";

std::size_t Count(const std::wstring& text, const std::wstring& piece) {
    std::size_t count = 0;
    for (std::size_t at = text.find(piece); at != std::wstring::npos;
         at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

// The pieces appear in this order, each after the end of the one before.
::testing::AssertionResult InOrder(const std::wstring& text,
                                   std::initializer_list<std::wstring> pieces) {
    std::size_t at = 0;
    for (const std::wstring& piece : pieces) {
        const std::size_t found = text.find(piece, at);
        if (found == std::wstring::npos) {
            return ::testing::AssertionFailure()
                   << "missing, or out of order: \"" << Narrow(piece) << "\" in:\n"
                   << Narrow(text);
        }
        at = found + piece.size();
    }
    return ::testing::AssertionSuccess();
}

// Pending renames as the helper programs record them: every NUL as "|".
std::wstring Bars(std::wstring data) {
    for (wchar_t& c : data) {
        if (c == L'\0') c = L'|';
    }
    return data;
}

struct RawValue {
    DWORD type = REG_NONE;
    std::wstring data;  // counted characters, NULs included
};

std::optional<RawValue> ReadSessionValue(const std::wstring& name) {
    UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager.c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD size = 0;
    RawValue raw;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &raw.type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<BYTE> bytes(size + sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &raw.type, bytes.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    raw.data.assign(reinterpret_cast<const wchar_t*>(bytes.data()), size / sizeof(wchar_t));
    return raw;
}

void WriteSessionValue(const std::wstring& name, const std::wstring& data) {
    UniqueKey key;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager.c_str(), 0, KEY_SET_VALUE, key.put()),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), name.c_str(), 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// A REG_MULTI_SZ list from its strings: each with its NUL, then the closing NUL.
std::wstring MultiString(std::initializer_list<std::wstring> strings) {
    std::wstring data;
    for (const std::wstring& s : strings) data += s + L'\0';
    return data + L'\0';
}

// What a machine holds: the boot-time start list, the list an uninstaller
// adds, and the one the installer adds (a pair whose empty target deletes the
// file at boot, and a replacement).
const std::wstring kStartList = MultiString({L"\\??\\C:\\clearon-start.tmp", L""});
const std::wstring kUninstallList = MultiString({L"\\??\\C:\\clearon-uninstall.tmp", L""});
const std::wstring kInstallerList =
    MultiString({L"\\??\\C:\\clearon-installer.new", L"\\??\\C:\\clearon-installer.dll"});
const std::wstring kLaterList = MultiString({L"\\??\\C:\\clearon-later.tmp", L""});

// The strings of a list for the helper programs' "/add-pending=" ("|"
// between strings, no closing NUL).
std::wstring AddPendingArgument(const std::wstring& list) {
    return Bars(list.substr(0, list.size() - 2));
}

// Two lists merged as the tool merges them: every string of the first, then
// every string of the second, one closing NUL.
std::wstring Merged(const std::wstring& first, const std::wstring& second) {
    return first.substr(0, first.size() - 1) + second;
}

// Terminates the process `id` (whose handle is `process`) and then its
// children, each waited for (bounded); returns how many children there were.
std::size_t KillTree(HANDLE process, DWORD id) {
    std::vector<DWORD> children;
    UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.valid()) {
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            if (entry.th32ParentProcessID == id) children.push_back(entry.th32ProcessID);
        }
    }
    // The parent first, so that it never sees its child end and goes on.
    if (TerminateProcess(process, 9)) WaitForSingleObject(process, 10000);
    for (DWORD child : children) {
        UniqueKernelHandle handle(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child));
        if (!handle) continue;
        TerminateProcess(handle.get(), 9);
        WaitForSingleObject(handle.get(), 10000);
    }
    return children.size();
}

class RemovalRunWine : public ::testing::Test {
protected:
    ScratchDir dir{L"removal-run"};

    void SetUp() override {
        WipeAll();
        CopyFileOrFail(TestProgramPath(L"aegira_setup_standin.exe"), dir / L"setup.exe");
        // Windows has the current user's RunOnce key; a fresh Wine prefix lacks it.
        CreateKey(HKEY_CURRENT_USER, kRunOnce);
    }
    void TearDown() override { WipeAll(); }

    static void WipeAll() {
        for (const auto& subkey : kScriptedSubkeys) {
            DeleteTree(HKEY_LOCAL_MACHINE, ScriptedProductEntry(subkey));
        }
        DeleteTree(HKEY_LOCAL_MACHINE, kTessaral);
        DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
        DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kAside);
        DeleteValue(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue));
        DeleteValue(HKEY_LOCAL_MACHINE, kRunOnce, std::wstring(kRunOnceValue));
    }

    // Clearon.ini as plain ASCII with CR LF line ends.
    void WriteConfig(const std::vector<std::wstring>& lines) const {
        std::wstring text;
        for (const auto& line : lines) text += line + L"\r\n";
        WriteAnsi(dir / L"Clearon.ini", Narrow(text));
    }
    std::wstring LogPath() const { return dir / (L"Clearon." + ComputerName() + L".log"); }
    std::wstring Log() const { return ReadUtf16File(LogPath()); }
    std::vector<std::wstring> SetupCalls() const {
        return TextLines(ReadUtf16File(dir / kSetupCalls));
    }
    std::vector<std::wstring> Records(const std::wstring& name) const {
        return TextLines(ReadUtf16File(dir / name));
    }
    std::optional<std::wstring> RunOnceValue() const {
        return GetString(HKEY_CURRENT_USER, kRunOnce, std::wstring(kRunOnceValue));
    }

    // Runs the tool silently, answering every "Question" box with `answer`
    // for the box's text, and returns the exit code (nothing on a time-out).
    std::optional<DWORD> RunAnswering(const std::wstring& arguments,
                                      std::function<std::wstring(const std::wstring&)> answer,
                                      std::vector<std::wstring>* questions = nullptr) const {
        BoxAnswerer answerer(L"Question", std::move(answer));
        const ProcessResult result = RunClearon(dir, arguments, 240s);
        if (questions != nullptr) *questions = answerer.Seen();
        return result.exitCode;
    }
    std::optional<DWORD> Run(const std::wstring& arguments) const {
        return RunClearon(dir, arguments, 240s).exitCode;
    }
};

std::wstring Attempt(const std::wstring& command) {
    return L" Attempting to run: " + command + L"\r\n";
}
std::wstring Removing(const std::wstring& name) {
    return L" Removing: " + name + L"\r\n";
}
std::wstring ExitCode(int code) {
    return L" Exit code: " + std::to_wstring(code) + L"\r\n";
}

TEST_F(RemovalRunWine, ARepresentativeRunRemovesEveryProductInOrderAndInstallsAegira) {
    RemoveMsiProductQuietly();
    ASSERT_NO_FATAL_FAILURE(InstallMsiProduct());
    ASSERT_NO_FATAL_FAILURE(InstallNsisProduct());
    RegisterScriptedProduct(kWholeSubkey, L"Wombat Guard Whole Test", true);
    const std::wstring marks = dir / L"marks.txt";
    const std::wstring before =
        TestUninstallerCommand(L"/name=before /mark=" + marks + L" /exit=7");
    const std::wstring after = TestUninstallerCommand(L"/name=after /mark=" + marks);
    WriteConfig({L"[Settings]", L"ShowGUI=N", L"AskBeforeRemoval=Y", L"SilentMSIInstaller=Y",
                 L"ResumeAfterReboot=Y", L"EnableLogging=Y",
                 // Makes the NSIS uninstaller silent; the others ignore it.
                 L"DefaultExtraParameters=/S", L"RunBeforeRemoval=" + before,
                 L"RunAfterRemoval=" + after,
                 L"RunAfterRemoval=setup.exe /version=" + kAegiraVersion, L"[ProductNames]",
                 L"Zebratech Antivirus", L"Quokka Shield", L"Wombat Guard Whole"});
    const std::optional<std::wstring> nsisUninstaller =
        GetString(HKEY_LOCAL_MACHINE, kNsisEntry, L"UninstallString");
    ASSERT_TRUE(nsisUninstaller.has_value());

    std::vector<std::wstring> questions;
    const auto exitCode = RunAnswering(
        L"/q /norestart", [](const std::wstring&) { return L"Yes"; }, &questions);
    ASSERT_TRUE(exitCode.has_value()) << "Clearon.exe did not end in time";
    EXPECT_EQ(*exitCode, 0u);

    const std::wstring log = Log();
    EXPECT_EQ(log.rfind(L"Computer Name: " + ComputerName() + L"\r\n", 0), 0u) << Narrow(log);
    const std::wstring wombatCommand =
        TestUninstallerCommand(L"/delete-key=HKLM\\" + ScriptedProductEntry(kWholeSubkey)) + L" /S";
    EXPECT_TRUE(InOrder(
        log,
        {L" Clearon starting!\r\n", Attempt(before), ExitCode(7), Removing(kMsiName),
         Attempt(SystemDirectory() + L"\\MsiExec.exe /X" + kMsiCode + L" REMOVE=ALL REBOOT=R /qn"),
         ExitCode(0), Removing(kNsisName), Attempt(L"\"" + *nsisUninstaller + L"\" /S"),
         ExitCode(0), Removing(L"Wombat Guard Whole Test"), Attempt(wombatCommand), ExitCode(0),
         Attempt(after), ExitCode(0),
         Attempt(dir / L"setup.exe" + L" /version=" + kAegiraVersion + L" /q /norestart"),
         ExitCode(0), L" Aegira " + kAegiraVersion + L" is installed.\r\n",
         L" Clearon stopping!\r\n"}));
    EXPECT_EQ(Count(log, L" Removing: "), 3u);
    EXPECT_EQ(Count(log, L" Failed to remove "), 0u);
    EXPECT_EQ(Count(log, L" Clearon starting!"), 1u);

    // One question per product, even though the package is registered twice.
    ASSERT_EQ(questions.size(), 3u);
    EXPECT_NE(questions[0].find(kMsiName), std::wstring::npos) << Narrow(questions[0]);
    EXPECT_NE(questions[1].find(kNsisName), std::wstring::npos) << Narrow(questions[1]);
    EXPECT_NE(questions[2].find(L"Wombat Guard Whole Test"), std::wstring::npos);

    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsiEntry));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMsiProperties));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kNsisEntry));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ScriptedProductEntry(kWholeSubkey)));

    // The programs ran once each; the installer got Clearon's arguments.
    const auto markLines = Records(L"marks.txt");
    ASSERT_EQ(markLines.size(), 2u);
    EXPECT_EQ(markLines[0].rfind(L"before ", 0), 0u);
    EXPECT_EQ(markLines[1].rfind(L"after ", 0), 0u);
    // Named without a folder, it was found beside Clearon.exe and run from there.
    EXPECT_EQ(SetupCalls(), std::vector<std::wstring>{dir / L"setup.exe" + L" /version=" +
                                                      kAegiraVersion + L" /q /norestart"});
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaral\\Aegira\\QRC", L"ProductVersion"),
              kAegiraVersion);
    // Aegira is there: nothing to resume.
    EXPECT_FALSE(RunOnceValue().has_value());
    EXPECT_EQ(Count(log, L"RunOnce key"), 0u);

    RemoveMsiProductQuietly();
    RemoveNsisProductQuietly();
}

// Which products count against the exit code: one whose entry stays after its
// uninstaller ran does; one the user declined does not, and it stays
// installed untouched.
TEST_F(RemovalRunWine, OnlyProductsLeftBehindCountAndDeclinedOnesStayInstalled) {
    struct Product {
        std::wstring subkey;
        std::wstring name;
        bool removesItself;
        bool declined;
    };
    const Product gone{kGoneSubkey, L"Wombat Guard Gone Test", true, false};
    const Product stubborn{kStubbornSubkey, L"Wombat Guard Stubborn Test", false, false};
    const Product declined{kDeclinedSubkey, L"Wombat Guard Declined Test", true, true};
    struct Case {
        const char* what;
        std::vector<Product> products;
        DWORD exitCode;
    };
    const Case cases[] = {
        {"every product removed", {gone}, 0},
        {"one entry left behind", {gone, stubborn}, 1},
        {"one product declined", {declined, gone}, 0},
        {"declined and left behind", {declined, stubborn, gone}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WipeAll();
        DeleteFileW(LogPath().c_str());
        for (const Product& p : c.products)
            RegisterScriptedProduct(p.subkey, p.name, p.removesItself);
        // One name per product: an entry that follows one removed during the
        // same scan of the Uninstall key is not examined in that scan.
        WriteConfig({L"[Settings]", L"ShowGUI=N", L"AskBeforeRemoval=Y", L"EnableLogging=Y",
                     L"[ProductNames]", L"Wombat Guard Gone", L"Wombat Guard Stubborn",
                     L"Wombat Guard Declined"});

        std::vector<std::wstring> questions;
        const auto exitCode = RunAnswering(
            L"",
            [](const std::wstring& text) {
                return text.find(L"Declined") != std::wstring::npos ? L"No" : L"Yes";
            },
            &questions);
        ASSERT_TRUE(exitCode.has_value());
        EXPECT_EQ(*exitCode, c.exitCode);
        EXPECT_EQ(questions.size(), c.products.size());

        const std::wstring log = Log();
        std::size_t failures = 0;
        for (const Product& p : c.products) {
            const bool installed = KeyExists(HKEY_LOCAL_MACHINE, ScriptedProductEntry(p.subkey));
            if (p.declined) {
                EXPECT_TRUE(installed) << Narrow(p.name);
                EXPECT_EQ(Count(log, L" User chose not to remove: " + p.name + L"\r\n"), 1u)
                    << Narrow(log);
                EXPECT_EQ(Count(log, Removing(p.name)), 0u);
            } else {
                EXPECT_EQ(installed, !p.removesItself) << Narrow(p.name);
                EXPECT_EQ(Count(log, Removing(p.name)), 1u);
            }
            const bool failed = !p.declined && !p.removesItself;
            EXPECT_EQ(Count(log, L" Failed to remove " + p.name + L"\r\n"), failed ? 1u : 0u)
                << Narrow(log);
            failures += failed ? 1 : 0;
        }
        EXPECT_EQ(Count(log, L" Failed to remove "), failures);
        EXPECT_TRUE(InOrder(log, {L" Clearon starting!\r\n", L" Aegira is NOT installed.\r\n",
                                  L" Clearon stopping!\r\n"}));
    }
}

TEST_F(RemovalRunWine, ProductNamesWithoutNamesStillRunBothListsTheRebootDecisionAndTheRestore) {
    WriteSessionValue(kPending, kStartList);
    const std::wstring marks = dir / L"marks.txt";
    const std::wstring before = TestUninstallerCommand(L"/name=before /mark=" + marks);
    const std::wstring after = TestUninstallerCommand(L"/name=after /mark=" + marks);
    WriteConfig({L"[Settings]", L"ShowGUI=N", L"ResumeAfterReboot=Y", L"EnableLogging=Y",
                 L"RunBeforeRemoval=" + before, L"RunAfterRemoval=" + after, L"[ProductNames]",
                 L"; nothing to remove on this machine"});

    const auto exitCode = Run(L"");
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 0u);

    const std::wstring log = Log();
    EXPECT_TRUE(
        InOrder(log, {L" Clearon starting!\r\n", Attempt(before), ExitCode(0), Attempt(after),
                      ExitCode(0), L" Aegira is NOT installed.\r\n", L" Clearon stopping!\r\n"}));
    EXPECT_EQ(Count(log, L" Removing: "), 0u);
    EXPECT_EQ(Records(L"marks.txt").size(), 2u);
    // No installer was launched: nothing to resume, though Aegira is missing.
    EXPECT_FALSE(RunOnceValue().has_value());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTessaral + L"\\Clearon"));
    // Set aside before each program, back in place at the end.
    const auto system = ReadSessionValue(kPending);
    ASSERT_TRUE(system.has_value());
    EXPECT_EQ(system->type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(Bars(system->data), Bars(kStartList));
    EXPECT_FALSE(ReadSessionValue(kAside).has_value());
}

TEST_F(RemovalRunWine, TheInstallerIsOnlyABareSetupCommandInTheAfterList) {
    // The installer does not take effect in these runs, so whether it was
    // recognised shows in the resume registration as well as in its arguments.
    WriteAnsi(dir / kSetupHold, "");
    const std::wstring withFolder = dir / L"setup.exe";
    WriteConfig({L"[Settings]", L"ShowGUI=N", L"ResumeAfterReboot=Y", L"EnableLogging=Y",
                 L"RunBeforeRemoval=setup.exe /before",
                 L"RunAfterRemoval=" + withFolder + L" /version=" + kAegiraVersion + L" /folder",
                 L"[ProductNames]"});
    auto exitCode = Run(L"/q");
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 0u);
    EXPECT_EQ(SetupCalls(), (std::vector<std::wstring>{
                                withFolder + L" /before",
                                withFolder + L" /version=" + kAegiraVersion + L" /folder"}));
    std::wstring log = Log();
    EXPECT_EQ(Count(log, L" Aegira is NOT installed.\r\n"), 1u);
    EXPECT_EQ(Count(log, L"RunOnce key"), 0u) << Narrow(log);
    EXPECT_FALSE(RunOnceValue().has_value());

    WriteConfig({L"[Settings]", L"ShowGUI=N", L"ResumeAfterReboot=Y", L"EnableLogging=Y",
                 L"RunAfterRemoval=   setup.exe /version=" + kAegiraVersion + L" /bare",
                 L"[ProductNames]"});
    // An argument that merely holds a resume switch's word is the
    // installer's, whole.
    const std::wstring arguments = L"/q LOG=C:\\l\\setup-runonce.log";
    exitCode = Run(arguments);
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 0u);
    const auto calls = SetupCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2], withFolder + L" /version=" + kAegiraVersion + L" /bare " + arguments);
    log = Log();
    EXPECT_EQ(Count(log, L" Aegira is NOT installed.\r\n"), 2u);
    EXPECT_EQ(Count(log, std::wstring(kLogAddedUserRunOnce)), 1u) << Narrow(log);
    EXPECT_EQ(RunOnceValue(), L"\"" + dir / L"Clearon.exe" + L"\" /RunOnce " + arguments);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, kTessaral + L"\\Clearon", L"RebootRequired"), L"1");
}

// The pending file renames through one real run, moment by moment: the
// programs record both values at the moments they run.
TEST_F(RemovalRunWine, PendingRenamesAreSetAsideAndMergedBackThroughARealRun) {
    WriteSessionValue(kPending, kStartList);
    // Relative to the programs' current directory, the tool's own folder: an
    // UninstallString must fit in 254 characters.
    const std::wstring record = L"/record-pending=pending.txt";
    RegisterScriptedProduct(kPendingSubkey, L"Wombat Guard Pending Test", true,
                            L"/add-pending=" + AddPendingArgument(kUninstallList) + L" " + record);
    WriteConfig({L"[Settings]", L"ShowGUI=N", L"AskBeforeRemoval=N", L"EnableLogging=Y",
                 L"RunBeforeRemoval=" + TestUninstallerCommand(record),
                 L"RunAfterRemoval=setup.exe " + record + L" /add-pending=" +
                     AddPendingArgument(kInstallerList) + L" " + record + L" /version=" +
                     kAegiraVersion,
                 L"[ProductNames]", L"Wombat Guard Pending"});

    const auto exitCode = Run(L"");
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 0u);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ScriptedProductEntry(kPendingSubkey)));

    auto moment = [](const std::wstring& system, const std::wstring& aside) {
        return L"system=" + (system.empty() ? L"-" : Bars(system)) + L" aside=" +
               (aside.empty() ? L"-" : Bars(aside));
    };
    // What was scheduled first is applied first.
    const std::wstring startThenUninstall = Merged(kStartList, kUninstallList);
    EXPECT_EQ(Records(L"pending.txt"),
              (std::vector<std::wstring>{
                  moment(L"", kStartList),                     // before the first program
                  moment(kUninstallList, kStartList),          // after the uninstaller
                  moment(L"", startThenUninstall),             // before the installer
                  moment(kInstallerList, startThenUninstall),  // after the installer
              }));
    // The end of the run: start list, then uninstall list, then installer list.
    const auto system = ReadSessionValue(kPending);
    ASSERT_TRUE(system.has_value());
    EXPECT_EQ(system->type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(Bars(system->data), Bars(Merged(startThenUninstall, kInstallerList)));
    EXPECT_FALSE(ReadSessionValue(kAside).has_value());
}

// Clearon.exe killed while a before-program lingers, right after its first
// set-aside: the list waits in the aside value, and the next complete run
// merges it back.
TEST_F(RemovalRunWine, AKilledRunLosesNoPendingRenameAndTheNextRunMergesItBack) {
    WriteSessionValue(kPending, kStartList);
    const std::wstring started = dir / L"started.txt";
    WriteConfig({L"[Settings]", L"ShowGUI=N", L"EnableLogging=Y",
                 L"RunBeforeRemoval=" +
                     TestUninstallerCommand(L"/name=linger /mark=" + started + L" /sleep=120000"),
                 L"[ProductNames]"});
    CopyFileOrFail(ClearonExePath(), dir / L"Clearon.exe");

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" + (dir / L"Clearon.exe") + L"\"";
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               dir.path().c_str(), &startup, &info));
    UniqueProcessInformation clearon;
    clearon.Adopt(info);
    // Whatever fails below, nothing of this run may linger into other tests.
    struct TreeGuard {
        HANDLE process;
        DWORD id;
        bool armed = true;
        ~TreeGuard() {
            if (armed) static_cast<void>(KillTree(process, id));
        }
    } guard{clearon.process.get(), info.dwProcessId};

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!FileExists(started) && std::chrono::steady_clock::now() < deadline) Sleep(50);
    ASSERT_TRUE(FileExists(started)) << "the lingering program did not start";

    // Kill the tool and the program it waits for, as a machine that is
    // switched off or a deployment that gives up would.
    guard.armed = false;
    EXPECT_EQ(KillTree(clearon.process.get(), info.dwProcessId), 1u);
    ASSERT_EQ(WaitForSingleObject(clearon.process.get(), 0), WAIT_OBJECT_0);

    EXPECT_FALSE(ReadSessionValue(kPending).has_value());
    auto aside = ReadSessionValue(kAside);
    ASSERT_TRUE(aside.has_value()) << "the set-aside list was lost";
    EXPECT_EQ(Bars(aside->data), Bars(kStartList));
    EXPECT_EQ(Count(Log(), L" Clearon stopping!"), 0u);

    // Until the next run, Windows and other installers go on using the
    // system's value.
    WriteSessionValue(kPending, kLaterList);
    const std::wstring record = L"/record-pending=" + (dir / L"pending.txt");
    WriteConfig({L"[Settings]", L"ShowGUI=N", L"EnableLogging=Y",
                 L"RunBeforeRemoval=" + TestUninstallerCommand(record), L"[ProductNames]"});
    const auto exitCode = Run(L"");
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 0u);
    EXPECT_EQ(Records(L"pending.txt"),
              std::vector<std::wstring>{L"system=- aside=" + Bars(Merged(kStartList, kLaterList))});
    const auto system = ReadSessionValue(kPending);
    ASSERT_TRUE(system.has_value());
    EXPECT_EQ(Bars(system->data), Bars(Merged(kStartList, kLaterList)));
    EXPECT_FALSE(ReadSessionValue(kAside).has_value());
    EXPECT_EQ(Count(Log(), L" Clearon stopping!"), 1u);
}

// StartRemoval in this process, with the real worker and with a thread that
// cannot be created.
class StartRemovalWine : public ::testing::Test {
protected:
    ScratchDir dir{L"start-removal"};
    std::wstring marks = dir / L"marks.txt";

    void SetUp() override {
        g_settings = Settings{};
        g_settings.ShowGUI = false;
        g_runState.loggingEnabled = true;
        g_settings.AskBeforeRemoval = false;
        g_settings.ResumeAfterReboot = false;
        g_removalState = RemovalState{};
        g_runState.logFilePath = dir / L"run.log";
        g_runState.exeDirectory = dir.path();
        g_runState.savedArguments.clear();
        g_runState.workerThread.reset();
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        g_runState.systemDirectory = system;
        WipeMachine();
        g_configText = L"[Settings]\r\nRunBeforeRemoval=" +
                       TestUninstallerCommand(L"/name=before /mark=" + marks) +
                       L"\r\n[ProductNames]\r\n";
        SetCurrentDirectoryW(dir.path().c_str());
    }
    void TearDown() override {
        WipeMachine();
        g_configText.clear();
        g_settings = Settings{};
        // The scratch folder cannot go while it is the current directory.
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        SetCurrentDirectoryW(temp);
    }
    // What the run reads and moves: Aegira's version and the pending renames.
    static void WipeMachine() {
        DeleteTree(HKEY_LOCAL_MACHINE, kTessaral);
        DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
        DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kAside);
    }
};

int g_creatorCalls = 0;
HANDLE FailingCreator(LPTHREAD_START_ROUTINE, DWORD*) {
    ++g_creatorCalls;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(StartRemovalWine, AThreadThatCannotBeCreatedIsLoggedAndGives155AfterTheNotice) {
    g_settings.ShowMessageBox = true;
    g_settings.MessageBoxText = L"Other security products will now be removed.";
    g_creatorCalls = 0;
    int result = 0;
    std::vector<std::wstring> notices;
    {
        BoxAnswerer answerer(L"Information", [](const std::wstring&) { return L"OK"; });
        result = StartRemoval(FailingCreator);
        notices = answerer.Seen();
    }
    EXPECT_EQ(result, 155);
    EXPECT_EQ(g_creatorCalls, 1);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0], L"Other security products will now be removed.");
    // The whole log: one timestamped line that ends like every other.
    const std::wstring log = ReadUtf16File(dir / L"run.log");
    EXPECT_TRUE(log.ends_with(L"\r\n")) << Narrow(log);
    const std::vector<std::wstring> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsTimestamped(lines[0], L" Could not create the Clearon thread.")) << Narrow(log);
    EXPECT_FALSE(g_runState.workerThread);
    EXPECT_EQ(g_runState.workerThread.id, 0u);
    EXPECT_FALSE(FileExists(marks)) << "no run may take place";
}

TEST_F(StartRemovalWine, ASilentStartWaitsForTheWholeRunAndClearsTheWorker) {
    const int result = StartRemoval();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(g_runState.workerThread);
    EXPECT_EQ(g_runState.workerThread.id, 0u);
    EXPECT_EQ(TextLines(ReadUtf16File(marks)).size(), 1u);
    EXPECT_TRUE(InOrder(ReadUtf16File(dir / L"run.log"),
                        {L" Attempting to run: ", ExitCode(0), L" Aegira is NOT installed.\r\n"}));
}

}  // namespace
}  // namespace clearon::test
