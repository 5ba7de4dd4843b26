// ClearonCheck preview of a McAfee entry whose command names mcuihost: the
// VirusScan and component commands Clearon runs before the entry's own, found
// by Clearon's own search over an in-memory registry and a set of files, in
// Clearon's order, completed like any command, and nothing written. The same
// machine is then handed to Clearon's real removal run.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "check/cli/check_text.h"
#include "check/preview/read_only_registry.h"
#include "check/preview/removal_preview.h"
#include "removal/mcafee_remover.h"
#include "removal/product_discovery.h"
#include "removal/removal_run.h"
#include "support/host/fake_removal_host.h"
#include "support/host/fake_resume_host.h"
#include "support/host/memory_registry.h"

namespace clearon::check {
namespace {

using test::FakeRemovalHost;
using test::FakeResumeHost;
using test::MemoryRegistry;
constexpr RegistryRoot kMachine = RegistryRoot::LocalMachine;
const std::wstring kEntry = std::wstring(kUninstallRoot) + L"\\McAfeeTP";
const std::wstring kEntry32 = std::wstring(kUninstallRoot32) + L"\\McAfeeTP";
const std::wstring kInstaller = L"C:\\CPF86\\McAfee\\Installer\\mcinst.exe";
const std::wstring kOwnCommand = L"C:\\McAfee\\mcuihost.exe /body:misp://MSCJsRes.dll::uninstall";

// No line break after the last name: an empty last line would be a name of
// its own, shown by the preview against every entry as too short.
std::wstring Config(std::wstring_view settings) {
    return L"[Settings]\r\nShowGUI=N\r\n" + std::wstring(settings) +
           L"[ProductNames]\r\nMcAfee Total Protection";
}

// The McAfee entry, its InstallLocation (when not empty) and the VirusScan
// values; the files and the environment are the test's.
void BuildMachine(MemoryRegistry& m, const std::wstring& key, const std::wstring& location,
                  const std::wstring& virusScan64, const std::wstring& virusScan32) {
    m.CreateKey(kMachine, key);
    m.SetString(kMachine, key, L"DisplayName", L"McAfee Total Protection");
    m.SetString(kMachine, key, L"UninstallString", kOwnCommand);
    if (!location.empty()) m.SetString(kMachine, key, L"InstallLocation", location);
    if (!virusScan64.empty()) {
        m.SetString(kMachine, kVirusScanKey64, kVirusScanUninstallValue, virusScan64);
    }
    if (!virusScan32.empty()) {
        m.SetString(kMachine, kVirusScanKey32, kVirusScanUninstallValue, virusScan32);
    }
}

struct Machine {
    std::set<std::wstring> files;
    std::map<std::wstring, std::wstring> environment{{L"CommonProgramFiles", L"C:\\CPF"},
                                                     {L"CommonProgramFiles(x86)", L"C:\\CPF86"}};
    std::vector<std::wstring> filesAskedFor;  // by the preview, in order

    PreviewOptions Options() {
        PreviewOptions options;
        options.is64BitSystem = true;
        options.systemDirectory = L"C:\\Windows\\system32";
        options.wow64SystemDirectory = L"C:\\Windows\\SysWOW64";
        options.exeDirectory = L"C:\\Deploy";
        options.windowsDirectory = L"C:\\Windows";
        options.fileExists = [this](std::wstring_view path, bool) {
            // Programs named without a folder are in the system folder.
            if (path.starts_with(L"C:\\Windows\\system32\\") ||
                path.starts_with(L"C:\\Windows\\SysWOW64\\")) {
                return true;
            }
            filesAskedFor.emplace_back(path);
            return files.count(std::wstring(path)) > 0;
        };
        options.environmentVariable =
            [this](std::wstring_view name) -> std::optional<std::wstring> {
            const auto found = environment.find(std::wstring(name));
            if (found == environment.end()) return std::nullopt;
            return found->second;
        };
        return options;
    }
};

std::vector<const PreviewItem*> ItemsOf(const PreviewResult& result, PreviewKind kind) {
    std::vector<const PreviewItem*> items;
    for (const PreviewItem& item : result.items) {
        if (item.kind == kind) items.push_back(&item);
    }
    return items;
}

std::wstring Component(const std::wstring& inf) {
    return L"\"" + kInstaller + L"\" \"" + inf + L"\" /uninstall";
}

TEST(McAfeePreview, WithoutMcinstNoCommandIsListedBeforeTheEntry) {
    // Every .inf and both VirusScan commands are there; only mcinst.exe is
    // missing from both folders (or its folder's variable is undefined).
    const struct {
        std::set<std::wstring> installers;
        bool x86Defined;
    } cases[] = {
        {{}, true},
        {{L"C:\\CPF\\McAfee\\mcinst.exe", L"C:\\CPF86\\McAfee\\Installer\\mcinst.EXE.bak"}, true},
        {{kInstaller}, false},
    };
    for (const auto& c : cases) {
        MemoryRegistry memory;
        BuildMachine(memory, kEntry, L"C:\\L", L"MsiExec.exe /I{V}", L"C:\\vs32\\remove.exe");
        Machine machine;
        machine.files = c.installers;
        machine.files.insert(L"C:\\L\\MPF\\mpfLI.inf");
        if (!c.x86Defined) machine.environment.erase(L"CommonProgramFiles(x86)");
        const PreviewOptions options = machine.Options();
        ReadOnlyRegistry registry(memory);
        const PreviewResult result =
            PreviewRemoval(registry, Config(L"AskBeforeRemoval=N\r\n"), options);

        EXPECT_TRUE(ItemsOf(result, PreviewKind::McAfeeComponent).empty());
        const std::vector<const PreviewItem*> entries = ItemsOf(result, PreviewKind::Entry);
        ASSERT_EQ(entries.size(), 1u) << ToUtf8(FormatPreview(result, options));
        EXPECT_TRUE(entries[0]->mcAfeeComponents);
        EXPECT_TRUE(entries[0]->mcAfeeInstaller.empty());
        EXPECT_EQ(PreviewCommandLines(result), std::vector<std::wstring>{kOwnCommand});
        EXPECT_NE(FormatPreview(result, options)
                      .find(L"no mcinst.exe below CommonProgramFiles or CommonProgramFiles(x86)"),
                  std::wstring::npos);
        EXPECT_EQ(memory.writes, 0);
        EXPECT_EQ(registry.refusedWrites(), 0);
    }
}

TEST(McAfeePreview, VirusScanCommandsOfFourCharactersOrFewerAreNotListed) {
    const struct {
        std::wstring value64;
        std::wstring value32;
        std::vector<std::wstring> expected;  // as launched, in order
    } cases[] = {
        {L"abcd", L"abcde", {L"C:\\Windows\\system32\\abcde.exe"}},
        {L"a", L"", {}},
        // Completed like any command: a Windows Installer one becomes a
        // silent removal.
        {L"MsiExec.exe /I{V}",
         L"C:\\vs32\\remove.exe",
         {L"C:\\Windows\\system32\\MsiExec.exe /X{V} REMOVE=ALL REBOOT=R /qn",
          L"C:\\vs32\\remove.exe"}},
    };
    for (const auto& c : cases) {
        MemoryRegistry memory;
        BuildMachine(memory, kEntry, L"C:\\L", c.value64, c.value32);
        Machine machine;
        machine.files = {kInstaller};
        const PreviewResult result =
            PreviewRemoval(memory, Config(L"AskBeforeRemoval=N\r\n"), machine.Options());
        std::vector<std::wstring> listed;
        for (const PreviewItem* item : ItemsOf(result, PreviewKind::McAfeeComponent)) {
            EXPECT_EQ(item->mcAfeeSource, McAfeeCommandSource::VirusScan);
            EXPECT_EQ(item->valueName, kVirusScanUninstallValue);
            EXPECT_EQ(item->outcome, PreviewOutcome::Runs);
            listed.push_back(item->commandLine);
        }
        EXPECT_EQ(listed, c.expected);
        EXPECT_EQ(ItemsOf(result, PreviewKind::Entry).at(0)->mcAfeeCommands, c.expected.size());
        EXPECT_EQ(memory.writes, 0);
    }
}

TEST(McAfeePreview, ComponentCommandsInOrderWithEveryExistingCandidate) {
    MemoryRegistry memory;
    BuildMachine(memory, kEntry, L"C:\\L", L"C:\\vs\\remove.exe", L"");
    // MPF: all three candidates; MSK: none; MHN: only through its 32-bit
    // key; MSC: below the location and through its 64-bit key, the same
    // folder reached twice.
    memory.SetString(kMachine, L"SOFTWARE\\McAfee\\MPF", L"Install Dir", L"C:\\K64\\MPF");
    memory.SetString(kMachine, L"SOFTWARE\\Wow6432Node\\McAfee\\MPF", L"Install Dir",
                     L"C:\\K32\\MPF");
    memory.SetString(kMachine, L"SOFTWARE\\McAfee\\MSK", L"Install Dir", L"C:\\K64\\MSK");
    memory.SetString(kMachine, L"SOFTWARE\\Wow6432Node\\McAfee\\MHN", L"Install Dir",
                     L"C:\\K32\\MHN");
    memory.SetString(kMachine, L"SOFTWARE\\McAfee\\MSC", L"Install Dir", L"C:\\L\\MSC");
    Machine machine;
    machine.files = {kInstaller,
                     L"C:\\L\\MPF\\mpfLI.inf",
                     L"C:\\K64\\MPF\\mpfLI.inf",
                     L"C:\\K32\\MPF\\mpfLI.inf",
                     L"C:\\K32\\MHN\\mhnli.inf",
                     L"C:\\L\\MSC\\mscli.inf"};
    const std::wstring config = Config(L"AskBeforeRemoval=Y\r\nDefaultExtraParameters=/quiet\r\n");
    const PreviewOptions options = machine.Options();
    ReadOnlyRegistry registry(memory);
    const PreviewResult result = PreviewRemoval(registry, config, options);
    EXPECT_EQ(memory.writes, 0);
    EXPECT_EQ(registry.refusedWrites(), 0);

    const struct {
        McAfeeCommandSource source;
        std::wstring key;
        std::size_t component;
        std::wstring inf;  // empty: the VirusScan command
    } expected[] = {
        {McAfeeCommandSource::VirusScan, std::wstring(kVirusScanKey64), 0, L""},
        {McAfeeCommandSource::BelowInstallLocation, L"", 0, L"C:\\L\\MPF\\mpfLI.inf"},
        {McAfeeCommandSource::InstallDir64, L"SOFTWARE\\McAfee\\MPF", 0,
         L"C:\\K64\\MPF\\mpfLI.inf"},
        {McAfeeCommandSource::InstallDir32, L"SOFTWARE\\Wow6432Node\\McAfee\\MPF", 0,
         L"C:\\K32\\MPF\\mpfLI.inf"},
        {McAfeeCommandSource::InstallDir32, L"SOFTWARE\\Wow6432Node\\McAfee\\MHN", 5,
         L"C:\\K32\\MHN\\mhnli.inf"},
        {McAfeeCommandSource::BelowInstallLocation, L"", 9, L"C:\\L\\MSC\\mscli.inf"},
        {McAfeeCommandSource::InstallDir64, L"SOFTWARE\\McAfee\\MSC", 9, L"C:\\L\\MSC\\mscli.inf"},
    };
    // The components come first, in Clearon's order, then the entry itself.
    ASSERT_EQ(result.items.size(), std::size(expected) + 1);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const PreviewItem& item = result.items[i];
        const auto& e = expected[i];
        EXPECT_EQ(item.kind, PreviewKind::McAfeeComponent);
        EXPECT_EQ(item.mcAfeeSource, e.source);
        EXPECT_EQ(item.key, e.key);
        EXPECT_EQ(item.infPath, e.inf);
        EXPECT_EQ(item.displayName, L"McAfee Total Protection");
        EXPECT_EQ(item.outcome, PreviewOutcome::Runs);
        // Only the first command asks; the answer covers the rest.
        EXPECT_EQ(item.asks, i == 0);
        if (!e.inf.empty()) {
            EXPECT_EQ(item.mcAfeeComponent, e.component);
            EXPECT_EQ(item.storedCommand, Component(e.inf));
            // Nothing of a known kind: the default parameters follow.
            EXPECT_EQ(item.commandLine, Component(e.inf) + L" /quiet");
        } else {
            EXPECT_EQ(item.commandLine, L"C:\\vs\\remove.exe /quiet");
        }
    }
    const PreviewItem& entry = result.items.back();
    EXPECT_EQ(entry.kind, PreviewKind::Entry);
    // The components do not make the entry a second meeting.
    EXPECT_EQ(entry.outcome, PreviewOutcome::Runs);
    EXPECT_FALSE(entry.asks);
    EXPECT_EQ(entry.mcAfeeInstaller, kInstaller);
    EXPECT_EQ(entry.mcAfeeCommands, std::size(expected));

    // Files are only tested, and the installer is looked for in the 64-bit
    // common files first.
    ASSERT_GE(machine.filesAskedFor.size(), 2u);
    EXPECT_EQ(machine.filesAskedFor[0], L"C:\\CPF\\McAfee\\Installer\\mcinst.exe");
    EXPECT_EQ(machine.filesAskedFor[1], kInstaller);

    const std::wstring text = FormatPreview(result, options);
    const std::wstring shown[] = {
        L"  first, McAfee VirusScan's stored command for McAfee Total Protection\n"
        L"    command from HKEY_LOCAL_MACHINE\\SOFTWARE\\McAfee\\VirusScan\\InstallSettings "
        L"\"VS_UninstallString\": C:\\vs\\remove.exe\n"
        L"    asks first (Question box)\n"
        L"    run: C:\\vs\\remove.exe /quiet\n",
        L"  first, McAfee component MPF (1 of 10) of McAfee Total Protection, with mcinst.exe\n"
        L"    .inf file below its InstallLocation: C:\\L\\MPF\\mpfLI.inf\n"
        L"    there now; a command before it may remove it, and Clearon then passes it over\n"
        L"    run: " +
            Component(L"C:\\L\\MPF\\mpfLI.inf") + L" /quiet\n",
        L"  first, McAfee component MHN (6 of 10) of McAfee Total Protection, with mcinst.exe\n"
        L"    .inf file below HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\McAfee\\MHN "
        L"\"Install Dir\": C:\\K32\\MHN\\mhnli.inf\n",
        L"    McAfee's components are removed first with " + kInstaller +
            L": the 7 command(s) above\n    run: " + kOwnCommand + L" /quiet\n",
        L"Summary: 8 command line(s) would run",
    };
    for (const std::wstring& piece : shown) {
        EXPECT_NE(text.find(piece), std::wstring::npos) << ToUtf8(piece) << "\n---\n"
                                                        << ToUtf8(text);
    }
}

TEST(McAfeePreview, OnlyMcuihostEntriesWithSilentMsiInstallerGetComponents) {
    const struct {
        std::wstring settings;
        std::wstring command;
        bool components;
    } cases[] = {
        {L"SilentMSIInstaller=Y\r\n", kOwnCommand, true},
        {L"SilentMSIInstaller=N\r\n", kOwnCommand, false},
        {L"SilentMSIInstaller=Y\r\n", L"C:\\McAfee\\uninstall.exe", false},
    };
    for (const auto& c : cases) {
        MemoryRegistry memory;
        BuildMachine(memory, kEntry, L"C:\\L", L"C:\\vs\\remove.exe", L"");
        memory.SetString(kMachine, kEntry, L"UninstallString", c.command);
        Machine machine;
        machine.files = {kInstaller, L"C:\\L\\MPF\\mpfLI.inf"};
        const PreviewResult result = PreviewRemoval(
            memory, Config(L"AskBeforeRemoval=N\r\n" + c.settings), machine.Options());
        EXPECT_EQ(ItemsOf(result, PreviewKind::McAfeeComponent).size(), c.components ? 2u : 0u);
        EXPECT_EQ(ItemsOf(result, PreviewKind::Entry).at(0)->mcAfeeComponents, c.components);
    }
}

TEST(McAfeePreview, ClearonsOwnRunLaunchesExactlyWhatThePreviewListed) {
    // A 64-bit and a 32-bit entry of the same product: the 32-bit one is met
    // again and runs only if the first removal left it, with its components.
    // Here the first removal leaves it, so Clearon runs everything twice.
    const auto build = [](MemoryRegistry& m) {
        BuildMachine(m, kEntry, L"C:\\L", L"MsiExec.exe /I{V}", L"C:\\vs32\\remove.exe");
        BuildMachine(m, kEntry32, L"C:\\L", L"MsiExec.exe /I{V}", L"C:\\vs32\\remove.exe");
        m.SetString(kMachine, L"SOFTWARE\\McAfee\\SiteAdvisor", L"Install Dir", L"C:\\SA");
    };
    const std::set<std::wstring> files = {kInstaller, L"C:\\L\\MPF\\mpfLI.inf",
                                          L"C:\\L\\MSC\\mscli.inf", L"C:\\SA\\sa_main.inf"};
    const std::wstring config = Config(L"AskBeforeRemoval=N\r\n");

    MemoryRegistry memory;
    build(memory);
    Machine machine;
    machine.files = files;
    const PreviewResult preview = PreviewRemoval(memory, config, machine.Options());
    std::vector<std::wstring> previewed;
    for (const PreviewItem& item : preview.items) {
        if (item.outcome == PreviewOutcome::Runs || item.outcome == PreviewOutcome::RunsAgain) {
            previewed.push_back(item.completedCommand);
        }
    }
    ASSERT_EQ(previewed.size(), 2u * 6u);
    EXPECT_EQ(PreviewCommandLines(preview).size(), 6u);  // first meetings only

    FakeRemovalHost host;
    build(host.memory);
    host.files = files;
    host.environment = machine.environment;
    FakeResumeHost resume(host);
    RemovalState state;
    Settings settings;
    (void)ReadSettings(config, settings);
    RemovalContext context{host, state, settings, config, true};
    (void)RunRemoval(context, resume, L"", false);
    EXPECT_EQ(host.LaunchedCommands(), previewed);
}

}  // namespace
}  // namespace clearon::check
