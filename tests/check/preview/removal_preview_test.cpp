// ClearonCheck preview over an in-memory registry: every entry a run would
// meet, its skips, the chosen value and the completed command, the 32-bit
// redirection, the program lists; nothing written. The same machine is then
// handed to Clearon's real removal run, which must launch exactly what the
// preview listed.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "check/cli/check_json.h"
#include "check/cli/check_text.h"
#include "check/preview/read_only_registry.h"
#include "check/preview/removal_preview.h"
#include "removal/product_discovery.h"
#include "removal/removal_run.h"
#include "resume/pending_renames.h"
#include "support/host/fake_removal_host.h"
#include "support/host/fake_resume_host.h"
#include "support/host/memory_registry.h"
#include "support/host/memory_security.h"

namespace clearon::check {
namespace {

using test::FakeRemovalHost;
using test::FakeResumeHost;
using test::MemoryRegistry;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
const std::wstring kUninstall(kUninstallRoot);
const std::wstring kUninstall32(kUninstallRoot32);
const std::wstring kUserData(kInstallerUserDataRoot);
const std::wstring kMsiCode = L"{11111111-2222-3333-4444-555555555555}";
const std::wstring kMsiProperties =
    kUserData + L"\\S-1-5-18\\Products\\1111111122223333\\InstallProperties";

const std::wstring kConfig =
    L"[Settings]\r\n"
    L"ShowGUI=N\r\n"
    L"AskBeforeRemoval=N\r\n"
    L"DefaultExtraParameters=/S\r\n"
    L"RunBeforeRemoval=prepare.exe /quiet\r\n"
    L"RunBeforeRemoval=\r\n"
    L"RunAfterRemoval=setup.exe /quiet\r\n"
    L"[ProductNames]\r\n"
    L"Zebratech Antivirus\r\n"
    L"Wombat\r\n"
    L"Nod\r\n"
    L"McAfee\r\n"
    L"Proventia\r\n"
    L"[UninstallPaths]\r\n"
    L"SOFTWARE\\Acme\\Uninstall\r\n";

// One workstation, built into any in-memory registry.
void BuildMachine(MemoryRegistry& m) {
    const auto entry = [&](const std::wstring& key, const std::wstring& name,
                           const std::wstring& valueName, const std::wstring& command) {
        m.CreateKey(kMachine, key);
        m.SetString(kMachine, key, L"DisplayName", name);
        if (!valueName.empty()) m.SetString(kMachine, key, valueName, command);
    };
    // A Windows Installer product, met first in the installer data, then
    // again under the Uninstall key.
    entry(kMsiProperties, L"Zebratech Antivirus Test", L"UninstallString",
          L"MsiExec.exe /I" + kMsiCode);
    entry(kUninstall + L"\\" + kMsiCode, L"Zebratech Antivirus Test", L"ModifyPath",
          L"MsiExec.exe /I" + kMsiCode);
    // The quiet command wins while SilentMSIInstaller is on.
    entry(kUninstall + L"\\Wombat", L"Wombat Guard", L"UninstallString", L"C:\\Wombat\\uninst.exe");
    m.SetString(kMachine, kUninstall + L"\\Wombat", L"QuietUninstallString",
                L"C:\\Wombat\\uninst.exe /quiet");
    // A 32-bit product whose command names the system directory.
    entry(kUninstall32 + L"\\Wombat32", L"Wombat Guard 32", L"UninstallString",
          L"C:\\Windows\\system32\\wombat32.exe /remove");
    // A product code without any command: the installer fallback.
    entry(kUninstall + L"\\{99999999-0000-0000-0000-000000000000}", L"Wombat Helper", L"", L"");
    // Without a command and without a product code: passed over.
    entry(kUninstall + L"\\WombatNoCommand", L"Wombat Leftover", L"", L"");
    // The maker's own product.
    entry(kUninstall + L"\\TessaralWombat", L"Tessaral Wombat Bridge", L"UninstallString",
          L"C:\\Tessaral\\remove.exe");
    // A name too short to be looked for.
    entry(kUninstall + L"\\Nod32", L"Nod32 Antivirus", L"UninstallString", L"C:\\Nod\\remove.exe");
    // McAfee SecurityCenter waits for the final pass.
    entry(kUninstall + L"\\McAfeeSC", L"McAfee SecurityCenter", L"UninstallString",
          L"C:\\McAfee\\sc_remove.exe");
    // An [UninstallPaths] root.
    entry(L"SOFTWARE\\Acme\\Uninstall\\Tool", L"Wombat Acme Edition", L"UninstallString",
          L"C:\\Acme\\unins000.exe");
    // Proventia Desktop's remover.
    m.CreateKey(kMachine, std::wstring(kProventiaKey));
    m.SetString(kMachine, std::wstring(kProventiaKey), std::wstring(kProventiaInstallDirValue),
                L"C:\\ISS");
}

const std::set<std::wstring> kFiles = {L"C:\\ISS\\AgentRemove.exe"};

PreviewOptions Options() {
    PreviewOptions options;
    options.is64BitSystem = true;
    options.systemDirectory = L"C:\\Windows\\system32";
    options.wow64SystemDirectory = L"C:\\Windows\\SysWOW64";
    // Clearon's folder holds setup.exe; the system folder every program
    // named without a folder (MsiExec.exe).
    options.exeDirectory = L"C:\\Deploy";
    options.windowsDirectory = L"C:\\Windows";
    options.fileExists = [](std::wstring_view path, bool) {
        return kFiles.count(std::wstring(path)) > 0 || path == L"C:\\Deploy\\setup.exe" ||
               path.starts_with(L"C:\\Windows\\system32\\") ||
               path.starts_with(L"C:\\Windows\\SysWOW64\\");
    };
    return options;
}

const PreviewItem* Find(const PreviewResult& result, std::wstring_view key) {
    for (const PreviewItem& item : result.items) {
        if (item.key == key) return &item;
    }
    return nullptr;
}

TEST(RemovalPreview, ListsEveryEntryWithItsSkipAndCommandAndWritesNothing) {
    MemoryRegistry memory;
    BuildMachine(memory);
    // A run sets these aside before each program; the preview leaves them.
    memory.SetMultiString(kMachine, kSessionManagerKey, kPendingRenamesValue,
                          std::wstring(L"\\??\\C:\\a.tmp\0\0\0", 15));
    ReadOnlyRegistry registry(memory);
    const PreviewResult result = PreviewRemoval(registry, kConfig, Options());
    EXPECT_EQ(memory.writes, 0);
    EXPECT_EQ(registry.refusedWrites(), 0);

    const struct {
        std::wstring key;
        PreviewOutcome outcome;
        std::wstring valueName;
        std::wstring commandLine;
    } expected[] = {
        // A program named without a folder runs from the system folder.
        {kMsiProperties, PreviewOutcome::Runs, L"UninstallString",
         L"C:\\Windows\\system32\\MsiExec.exe /X" + kMsiCode + L" REMOVE=ALL REBOOT=R /qn"},
        {kUninstall + L"\\" + kMsiCode, PreviewOutcome::RunsAgain, L"ModifyPath",
         L"C:\\Windows\\system32\\MsiExec.exe /X" + kMsiCode + L" REMOVE=ALL REBOOT=R /qn"},
        {kUninstall + L"\\Wombat", PreviewOutcome::Runs, L"QuietUninstallString",
         L"C:\\Wombat\\uninst.exe /quiet /S"},
        {kUninstall + L"\\{99999999-0000-0000-0000-000000000000}", PreviewOutcome::Runs, L"",
         L"C:\\Windows\\system32\\MsiExec.exe /X{99999999-0000-0000-0000-000000000000} "
         L"REMOVE=ALL REBOOT=R /qn"},
        {kUninstall + L"\\WombatNoCommand", PreviewOutcome::NoCommand, L"", L""},
        {kUninstall + L"\\TessaralWombat", PreviewOutcome::MakersOwn, L"UninstallString", L""},
        // Redirected to the 32-bit system directory, as the runner does.
        {kUninstall32 + L"\\Wombat32", PreviewOutcome::Runs, L"UninstallString",
         L"C:\\Windows\\SysWOW64\\wombat32.exe /remove /S"},
        {L"SOFTWARE\\Acme\\Uninstall\\Tool", PreviewOutcome::Runs, L"UninstallString",
         L"C:\\Acme\\unins000.exe /SP- /VERYSILENT /NORESTART /S"},
        {kUninstall + L"\\Nod32", PreviewOutcome::ShortName, L"UninstallString", L""},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(ToUtf8(e.key));
        const PreviewItem* item = Find(result, e.key);
        ASSERT_NE(item, nullptr) << ToUtf8(FormatPreview(result, Options()));
        EXPECT_EQ(item->outcome, e.outcome);
        EXPECT_EQ(item->valueName, e.valueName);
        if (!e.commandLine.empty()) {
            EXPECT_EQ(item->commandLine, e.commandLine);
        }
    }
    EXPECT_TRUE(Find(result, kUninstall32 + L"\\Wombat32")->view32Bit);

    // McAfee SecurityCenter: deferred during the names, removed in the final
    // pass after them.
    std::vector<PreviewOutcome> securityCenter;
    for (const PreviewItem& item : result.items) {
        if (item.displayName == L"McAfee SecurityCenter") {
            securityCenter.push_back(item.outcome);
            EXPECT_EQ(item.finalPass, item.outcome == PreviewOutcome::Runs);
        }
    }
    EXPECT_EQ(securityCenter,
              (std::vector<PreviewOutcome>{PreviewOutcome::Deferred, PreviewOutcome::Runs}));

    const std::string text = ToUtf8(FormatPreview(result, Options()));
    EXPECT_NE(text.find("RunBeforeRemoval (line 6)\n    skipped: the line has no command"),
              std::string::npos)
        << text;
    EXPECT_NE(
        text.find(
            "RunAfterRemoval (line 7), Aegira's installer\n    run: C:\\Deploy\\setup.exe /quiet"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("Proventia Desktop's remover"), std::string::npos) << text;
    EXPECT_NE(text.find("Final pass: McAfee SecurityCenter"), std::string::npos) << text;
    EXPECT_NE(text.find("nothing was written, run or logged"), std::string::npos);
}

TEST(RemovalPreview, ClearonsOwnRunLaunchesExactlyWhatThePreviewListed) {
    MemoryRegistry memory;
    BuildMachine(memory);
    PreviewOptions options = Options();
    options.is64BitSystem = true;
    options.savedArguments = L"/norestart";
    const PreviewResult preview = PreviewRemoval(memory, kConfig, options);
    std::vector<std::wstring> previewed;
    for (const PreviewItem& item : preview.items) {
        if (item.outcome != PreviewOutcome::Runs) continue;
        // The fake host records the command before the runner's redirection
        // and look-up; a program line's is the line's own (the installer's
        // with Clearon's arguments).
        if (!item.completedCommand.empty()) {
            previewed.push_back(item.completedCommand);
        } else if (item.kind == PreviewKind::BeforeProgram ||
                   item.kind == PreviewKind::AfterProgram) {
            previewed.push_back(item.storedCommand + (item.installer ? L" /norestart" : L""));
        } else {
            previewed.push_back(item.commandLine);
        }
    }

    FakeRemovalHost host;
    BuildMachine(host.memory);
    host.files = kFiles;
    // Every uninstaller removes its entry, as a good one does; the Windows
    // Installer removes both of its product's keys.
    host.RemovesKey(kMsiCode, kMsiProperties);
    host.RemovesKey(kMsiCode, kUninstall + L"\\" + kMsiCode);
    host.RemovesKey(L"uninst.exe", kUninstall + L"\\Wombat");
    host.RemovesKey(L"wombat32.exe", kUninstall32 + L"\\Wombat32");
    host.RemovesKey(L"{99999999", kUninstall + L"\\{99999999-0000-0000-0000-000000000000}");
    host.RemovesKey(L"unins000.exe", L"SOFTWARE\\Acme\\Uninstall\\Tool");
    host.RemovesKey(L"sc_remove.exe", kUninstall + L"\\McAfeeSC");
    FakeResumeHost resume(host);
    RemovalState state;
    Settings settings;
    (void)ReadSettings(kConfig, settings);
    RemovalContext context{host, state, settings, kConfig, true};
    (void)RunRemoval(context, resume, L"/norestart", false);

    EXPECT_EQ(host.LaunchedCommands(), previewed);
    EXPECT_EQ(PreviewCommandLines(preview).size(), previewed.size());
    EXPECT_EQ(previewed.back(), L"setup.exe /quiet /norestart");
}

TEST(RemovalPreview, WithoutA64BitWindowsTheTwinsAreNotScanned) {
    MemoryRegistry memory;
    BuildMachine(memory);
    PreviewOptions options = Options();
    options.is64BitSystem = false;
    const PreviewResult result = PreviewRemoval(memory, kConfig, options);
    EXPECT_EQ(Find(result, kUninstall32 + L"\\Wombat32"), nullptr);
    EXPECT_EQ(memory.writes, 0);

    // SilentMSIInstaller=N: the plain command comes first and the
    // unattended switches stay away.
    const std::wstring plain =
        L"[Settings]\r\nSilentMSIInstaller=N\r\n[ProductNames]\r\nWombat Guard\r\n";
    const PreviewResult loud = PreviewRemoval(memory, plain, options);
    const PreviewItem* wombat = Find(loud, kUninstall + L"\\Wombat");
    ASSERT_NE(wombat, nullptr);
    EXPECT_EQ(wombat->valueName, L"UninstallString");
    EXPECT_EQ(wombat->commandLine, L"C:\\Wombat\\uninst.exe");
    EXPECT_TRUE(wombat->asks);
}

// A program others than administrators can change is its own outcome, in
// the text and the JSON, unless AllowUserWritablePrograms=Y.
TEST(RemovalPreview, ProgramsOthersCanChangeAreShownRefused) {
    MemoryRegistry memory;
    BuildMachine(memory);
    test::MemorySecurity rights;
    rights.Set(L"C:\\Wombat", test::AdminsAnd({true, L"S-1-5-11", kFileAllAccess, 0}));
    PreviewOptions options = Options();
    options.rights = &rights;
    for (const bool allowed : {false, true}) {
        const std::wstring config =
            kConfig + (allowed ? L"[Settings]\r\nAllowUserWritablePrograms=Y\r\n" : L"");
        const PreviewResult result = PreviewRemoval(memory, config, options);
        const PreviewItem* wombat = Find(result, kUninstall + L"\\Wombat");
        ASSERT_NE(wombat, nullptr);
        EXPECT_EQ(wombat->outcome, allowed ? PreviewOutcome::Runs : PreviewOutcome::UserWritable);
        if (allowed) continue;
        EXPECT_EQ(wombat->refusalReason, L"S-1-5-11 may add files to C:\\Wombat");
        const std::string text = ToUtf8(FormatPreview(result, options));
        EXPECT_NE(text.find("others than administrators can change the program (Allow"
                            "UserWritablePrograms=N; nothing is run)\n    found: S-1-5-11 may "
                            "add files to C:\\Wombat\n"),
                  std::string::npos)
            << text;
        const std::string json = ToUtf8(PreviewJson(L"Clearon.ini", result, 1));
        EXPECT_NE(json.find("\"outcome\": \"user-writable\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"refusal_reason\": \"S-1-5-11 may add files to C:\\\\Wombat\""),
                  std::string::npos)
            << json;
    }
}

}  // namespace
}  // namespace clearon::check
