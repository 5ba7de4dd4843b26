// Completion of stored uninstall commands by the uninstaller table, and the
// texts that go with a removal.
#include <gtest/gtest.h>

#include <string>

#include "removal/uninstall_command.h"

namespace clearon {
namespace {

struct CompletionCase {
    const wchar_t* stored;
    bool silent;
    const wchar_t* msiExtra;
    const wchar_t* installShieldExtra;
    const wchar_t* defaultExtra;
    const wchar_t* expected;
};

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(CompleteUninstallCommand, FollowsTheUninstallerTable) {
    const CompletionCase cases[] = {
        // The four common kinds, silent and not, all extras empty.
        {L"MsiExec.exe /I{11111111-2222-3333-4444-555555555555}", true, L"", L"", L"",
         L"MsiExec.exe /X{11111111-2222-3333-4444-555555555555} REMOVE=ALL REBOOT=R /qn"},
        {L"MsiExec.exe /I{11111111-2222-3333-4444-555555555555}", false, L"", L"", L"",
         L"MsiExec.exe /X{11111111-2222-3333-4444-555555555555} REMOVE=ALL REBOOT=R"},
        {L"C:\\Tools\\unins000.exe", true, L"", L"", L"",
         L"C:\\Tools\\unins000.exe /SP- /VERYSILENT /NORESTART"},
        {L"C:\\Tools\\unins000.exe", false, L"", L"", L"", L"C:\\Tools\\unins000.exe /NORESTART"},
        {L"C:\\Tools\\ntrmv.exe", true, L"", L"", L"", L"C:\\Tools\\ntrmv.exe -331"},
        {L"C:\\Tools\\ntrmv.exe", false, L"", L"", L"", L"C:\\Tools\\ntrmv.exe"},
        {L"C:\\Tools\\remove.exe", true, L"", L"", L"", L"C:\\Tools\\remove.exe"},
        {L"C:\\Tools\\remove.exe", false, L"", L"", L"", L"C:\\Tools\\remove.exe"},
        // Kinds are found in any case, anywhere.
        {L"C:\\T\\UNINS000.EXE", false, L"", L"", L"", L"C:\\T\\UNINS000.EXE /NORESTART"},
        {L"msiexec /x{A}", true, L"", L"", L"", L"msiexec /x{A} REMOVE=ALL REBOOT=R /qn"},
        // Every "/i" becomes "/X" in a MsiExec command, a path segment too.
        {L"MsiExec.exe /i{A}", false, L"", L"", L"", L"MsiExec.exe /X{A} REMOVE=ALL REBOOT=R"},
        {L"C:/inst/MsiExec.exe /I{A} /i", false, L"", L"", L"",
         L"C:/Xnst/MsiExec.exe /X{A} /X REMOVE=ALL REBOOT=R"},
        {L"C:/inst/other.exe /I", false, L"", L"", L"", L"C:/inst/other.exe /I"},
        // Extra parameters per kind.
        {L"MsiExec.exe /I{A}", true, L"LOG=x", L"IS", L"DEF",
         L"MsiExec.exe /X{A} REMOVE=ALL REBOOT=R /qn LOG=x"},
        {L"C:\\Tools\\unins000.exe", true, L"M", L"I", L"/LOG",
         L"C:\\Tools\\unins000.exe /SP- /VERYSILENT /NORESTART /LOG"},
        {L"C:\\Tools\\ntrmv.exe", true, L"", L"", L"/q", L"C:\\Tools\\ntrmv.exe -331 /q"},
        {L"C:\\Tools\\remove.exe", false, L"M", L"I", L"/S", L"C:\\Tools\\remove.exe /S"},
        // InstallShield, through its name or its driver.
        {L"C:\\InstallShield\\setup.exe", true, L"", L"", L"D",
         L"C:\\InstallShield\\setup.exe /x /removeonly /uninst /w /clone_wait /s /h /z "
         L"/hide_progress /hide_splash /hide_usd /v\"REMOVE=ALL REBOOT=R /qn\""},
        {L"C:\\x\\idriver.exe /M{A}", false, L"", L"ISX", L"D",
         L"C:\\x\\idriver.exe /M{A} /x /removeonly /uninst /w /clone_wait "
         L"/v\"REMOVE=ALL REBOOT=R\" ISX"},
        // MsiExec and InstallShield together: the Windows Installer switches
        // first, then InstallShield's, and never the default parameters.
        {L"C:\\InstallShield\\MsiExec.exe /I{A}", true, L"M", L"I", L"D",
         L"C:\\InstallShield\\MsiExec.exe /X{A} REMOVE=ALL REBOOT=R /qn M /x /removeonly "
         L"/uninst /w /clone_wait /s /h /z /hide_progress /hide_splash /hide_usd "
         L"/v\"REMOVE=ALL REBOOT=R /qn\" I"},
        // An Inno uninstaller started through ntrmv: both rows, then defaults.
        {L"ntrmv.exe unins000.exe", true, L"", L"", L"V",
         L"ntrmv.exe unins000.exe -331 /SP- /VERYSILENT /NORESTART V"},
        // A row's switches are seen by the rows after it: the InstallShield
        // parameter names MsiExec, but row 3 has already been passed.
        {L"IDriver.exe", false, L"M", L"MsiExec", L"D",
         L"IDriver.exe /x /removeonly /uninst /w /clone_wait /v\"REMOVE=ALL REBOOT=R\" MsiExec"},
    };
    for (const auto& c : cases) {
        Settings settings;
        settings.SilentMSIInstaller = c.silent;
        settings.MSIExtraParameters = c.msiExtra;
        settings.InstallShieldExtraParameters = c.installShieldExtra;
        settings.DefaultExtraParameters = c.defaultExtra;
        EXPECT_EQ(CompleteUninstallCommand(c.stored, settings), c.expected)
            << Narrow(c.stored) << " silent=" << c.silent;
    }
}

TEST(CompleteUninstallCommand, ExtrasFromAnEarlierRowReachALaterRowsTest) {
    // MSIExtraParameters that name InstallShield make row 4 apply as well:
    // each row tests the command as the rows before it left it. The /i
    // rewrite happens before the parameters are appended, so they keep
    // their letters.
    Settings settings;
    settings.SilentMSIInstaller = false;
    settings.MSIExtraParameters = L"TRANSFORMS=InstallShield.mst /i";
    EXPECT_EQ(CompleteUninstallCommand(L"MsiExec /I{A}", settings),
              L"MsiExec /X{A} REMOVE=ALL REBOOT=R TRANSFORMS=InstallShield.mst /i"
              L" /x /removeonly /uninst /w /clone_wait /v\"REMOVE=ALL REBOOT=R\"");
}

TEST(FitsCommandLine, HoldsExactly511Characters) {
    EXPECT_TRUE(FitsCommandLine(std::wstring(511, L'a')));
    EXPECT_FALSE(FitsCommandLine(std::wstring(512, L'a')));
    EXPECT_TRUE(FitsCommandLine(L""));
}

TEST(RemovalTexts, QuestionStatusAndAgentCommand) {
    EXPECT_EQ(QuestionText(L"Acme AV"),
              L"Acme AV may not be compatible with Aegira.  It is recommended to remove this "
              L"product.  Are you sure you want to remove Acme AV?");
    // A long display name is shown whole, never cut.
    const std::wstring longName(254, L'n');
    const std::wstring question = QuestionText(longName);
    EXPECT_EQ(question.size(),
              2 * 254 + kQuestionCompatibility.size() + kQuestionAreYouSure.size() + 1);
    EXPECT_EQ(question.substr(question.size() - 255), longName + L"?");

    EXPECT_EQ(UninstallingStatus(L"Acme AV"), L"Uninstalling Acme AV . . .");
    EXPECT_EQ(AgentRemoverCommand(L"C:\\McAfee\\Agent\\", true),
              L"\"C:\\McAfee\\Agent\\frminst.exe\" /forceuninstall /silent");
    EXPECT_EQ(AgentRemoverCommand(L"C:\\McAfee\\Agent", false),
              L"\"C:\\McAfee\\Agentfrminst.exe\" /forceuninstall");
}

}  // namespace
}  // namespace clearon
