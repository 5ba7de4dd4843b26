// ClearonCheck lint over a corpus of good and broken Clearon.ini files: every
// trap is found at its line, refused files give Clearon's own exit code, and
// the annotated sample raises nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "check/cli/check_cli.h"
#include "check/cli/check_text.h"
#include "check/lint/config_lint.h"
#include "config/config_file.h"

namespace clearon::check {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

fs::path Corpus(const std::string& name) {
    return fs::path(CLEARON_SOURCE_DIR) / "tests" / "check" / "lint" / "corpus" / name;
}

LintOptions TestEnvironment() {
    LintOptions options;
    options.environment = [](std::wstring_view name) -> std::optional<std::wstring> {
        if (name == L"SystemRoot") return std::wstring(L"C:\\Windows");
        return std::nullopt;
    };
    options.environmentSource = L"the test's environment";
    return options;
}

LintResult LintFile(const std::string& name) {
    return LintConfigBytes(ReadFile(Corpus(name)), TestEnvironment());
}

bool HasFinding(const LintResult& result, std::size_t line, Severity severity,
                std::wstring_view piece) {
    for (const Finding& finding : result.findings) {
        if (finding.line == line && finding.severity == severity &&
            finding.text.find(piece) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

std::string Dump(const LintResult& result) {
    return ToUtf8(FormatLint(result, L"Clearon.ini"));
}

std::size_t Warnings(const LintResult& result) {
    std::size_t count = 0;
    for (const Finding& finding : result.findings) count += finding.severity == Severity::Warning;
    return count;
}

struct Expected {
    std::size_t line;
    std::wstring_view piece;
};

struct CorpusCase {
    const char* file;
    int exitCode;
    std::vector<Expected> warnings;
};

TEST(ConfigLint, EveryTrapOfTheCorpusIsFoundAtItsLine) {
    const std::vector<CorpusCase> cases = {
        {"clean_fleet.ini", kLintClean, {}},
        {"bare_line_feeds.ini",
         kLintWarnings,
         {{0, L"bare line feed"},
          {1, L"reads \"[Settings\""},
          {4, L"reads \"LogPath=C:\\Log\""},
          {6, L"reads \"Norto\""},
          {7, L"outside any section"}}},
        {"bracket_ends_settings.ini",
         kLintWarnings,
         {{3, L"it ends [Settings]; the lines after it are outside any section"},
          {4, L"outside any section"}}},
        {"comment_sections.ini",
         kLintWarnings,
         {{3, L"this comment still counts for the sections"},
          {3, L"it ends [Settings], and opens [ProductNames]"},
          {5, L"it ends [ProductNames]"},
          {6, L"outside any section"}}},
        {"unrecognised_values.ini",
         kLintWarnings,
         {{2, L"ShowGUI: Clearon does not recognise this value"},
          {4, L"EnableLogging: Clearon does not recognise this value"},
          {5, L"sets ResumeAfterReboot and clears it again"},
          {6, L"CheckDiskSpace=N has no effect"}}},
        {"longer_key_first.ini",
         kLintWarnings,
         {{4, L"Clearon takes LogPath from this line"},
          {4, L"(here in \"MyLogPath\"): LogPath = \"D:\\Old\""},
          {5, L"only from the first line that contains it (line 4)"},
          {6, L"only from the first line that contains it (line 4)"}}},
        {"product_names.ini",
         kLintWarnings,
         {{6, L"has 3 characters"},
          {7, L"an empty line in [ProductNames] counts as a name"},
          {8, L"is a piece of \"Proventia Desktop\""},
          {9, L"begins or ends with blanks"},
          {10, L"contains \"Tessaral\""},
          {12, L"the file ends with a line end"}}},
        {"programs.ini",
         kLintWarnings,
         {{4, L"empty command"},
          {5, L"does not take it for Aegira's installer"},
          {7, L"contains \"RunAfterRemoval\" (in \"MessageBoxText\")"}}},
        {"long_line.ini",
         kLintWarnings,
         {{4, L"Clearon refuses DefaultExtraParameters"},
          {4, L"286 characters long"},
          {6, L"a product name longer than 254 characters"}}},
        {"writer_sids.ini",
         kLintWarnings,
         {{4, L"AllowedWriterSids holds an item that is no SID"}}},
        {"message_box_short.ini",
         kLintWarnings,
         {{4, L"3 characters after its escapes, fewer than 6"}}},
        {"logpath_undefined.ini",
         kLintWarnings,
         {{4, L"%CLEARON_CHECK_NO_SUCH_VARIABLE% is not defined in the test's environment"},
          {4, L"logs to \"\\Logs\\\""}}},
        {"spaced_header.ini",
         kLintWarnings,
         {{1, L"sees [Settings] open from here, but the readers of LogPath"},
          {4, L"only the switch scan sees [Settings] here"},
          {7, L"it ends [ProductNames], and opens [Settings]"}}},
        {"blank_before_semicolon.ini",
         kLintWarnings,
         {{4, L"starts with blanks before \";\""},
          {4, L"Clearon takes LogPath from this line"},
          {7, L"it is the product name \"  ; Zebratech\""}}},
        {"latin1_name.ini", kLintWarnings, {{5, L"0xE9 becomes U+FFE9"}}},
        {"utf8_no_bom.ini", kLintWarnings, {{0, L"looks like UTF-8"}, {5, L"holds UTF-8 letters"}}},
        {"silent_but_asking.ini", kLintWarnings, {{0, L"the Question box still appears"}}},
        {"uninstall_paths.ini",
         kLintWarnings,
         {{7, L"taken below HKEY_LOCAL_MACHINE already"}, {8, L"part of the key path"}}},
        {"nul_inside.ini", kLintWarnings, {{6, L"a character 0 ends the configuration here"}}},
        {"utf16le_clean.ini", kLintWarnings, {{6, L"the file ends with a line end"}}},
        {"blank.ini", kExitConfigBlank, {}},
        {"utf8_bom.ini", kExitConfigBadFormat, {}},
        {"no_product_names.ini", kExitConfigBadFormat, {}},
    };
    for (const CorpusCase& c : cases) {
        SCOPED_TRACE(c.file);
        const LintResult result = LintFile(c.file);
        EXPECT_EQ(result.exitCode, c.exitCode) << Dump(result);
        for (const Expected& expected : c.warnings) {
            EXPECT_TRUE(HasFinding(result, expected.line, Severity::Warning, expected.piece))
                << "line " << expected.line << ": " << ToUtf8(expected.piece) << "\n"
                << Dump(result);
        }
        if (c.exitCode == kLintClean) {
            EXPECT_EQ(Warnings(result), 0u) << Dump(result);
        }
    }
}

TEST(ConfigLint, TheAnnotatedSampleRaisesNothingAndIsReadAsClearonReadsIt) {
    const LintResult result = LintConfigBytes(
        ReadFile(fs::path(CLEARON_SOURCE_DIR) / "examples" / "Clearon.ini"), TestEnvironment());
    EXPECT_EQ(result.exitCode, kLintClean) << Dump(result);
    EXPECT_EQ(Warnings(result), 0u) << Dump(result);
    EXPECT_FALSE(result.readAsUtf16);
    EXPECT_FALSE(result.settings.ShowGUI);
    EXPECT_FALSE(result.settings.AskBeforeRemoval);
    EXPECT_TRUE(result.settings.SilentMSIInstaller);
    EXPECT_EQ(result.settings.MSIExtraParameters, L"/l*v C:\\Windows\\Logs\\ClearonMsi.log");
    EXPECT_TRUE(HasFinding(result, 9, Severity::Note, L"clears ShowGUI"));
    EXPECT_TRUE(HasFinding(result, 47, Severity::Note, L"recognised as Aegira's installer"));
    EXPECT_TRUE(HasFinding(result, 51, Severity::Note, L"product name \"Acme AntiVirus\""));
    EXPECT_TRUE(
        HasFinding(result, 55, Severity::Note, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Acme\\Uninstall"));
}

TEST(ConfigLint, RefusedFilesGetClearonsExitCodeAndMessage) {
    const struct {
        std::vector<std::uint8_t> bytes;
        int exitCode;
        std::wstring_view why;
    } cases[] = {
        {{}, kExitConfigBlank, L"empty"},
        {std::vector<std::uint8_t>(65536, 'a'), kExitConfigTooLarge, L"65536 bytes"},
        // 65,535 single bytes without a 0: one character more than the
        // configuration text can hold.
        {[] {
             std::string text = "[Settings]\r\n[ProductNames]\r\n";
             text.resize(65535, 'x');
             return std::vector<std::uint8_t>(text.begin(), text.end());
         }(),
         kExitConfigTooLarge, L"one character more"},
        {{0xFE, 0xFF, 0, '[', 0, 'S'}, kExitConfigBadFormat, L"big-endian"},
        {{'[', 'S', 'e', 't', 't', 'i', 'n', 'g', 's', ']'},
         kExitConfigBadFormat,
         L"no [ProductNames]"},
    };
    for (const auto& c : cases) {
        const LintResult result = LintConfigBytes(c.bytes, TestEnvironment());
        EXPECT_EQ(result.exitCode, c.exitCode) << Dump(result);
        EXPECT_EQ(result.refusal, ConfigErrorMessage(c.exitCode));
        EXPECT_TRUE(HasFinding(result, 0, Severity::Error, c.why)) << Dump(result);
    }
    // 65,535 bytes is still taken.
    std::string largest = "[Settings]\r\n[ProductNames]\r\n";
    largest.resize(65534, 'x');
    largest.push_back('\0');
    EXPECT_NE(LintConfigBytes(std::vector<std::uint8_t>(largest.begin(), largest.end()),
                              TestEnvironment())
                  .exitCode,
              kExitConfigTooLarge);
}

TEST(ConfigLint, FilesThatCannotBeReadGiveTheLoadersCodes) {
    const fs::path dir =
        fs::temp_directory_path() / ("clearon_lint_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir / "Clearon.ini");  // a folder where the file should be
    std::wstring text;
    LintResult lint;
    EXPECT_EQ(LoadConfigLikeClearon(dir / "missing.ini", text, lint, TestEnvironment()),
              kExitConfigMissing);
    EXPECT_EQ(lint.refusal, kMsgConfigMissing);
    EXPECT_EQ(LoadConfigLikeClearon(dir / "Clearon.ini", text, lint, TestEnvironment()),
              kExitConfigOpenFailed);

    fs::copy_file(Corpus("clean_fleet.ini"), dir / "fleet.ini");
    EXPECT_EQ(LoadConfigLikeClearon(dir / "fleet.ini", text, lint, TestEnvironment()), 0);
    EXPECT_NE(text.find(L"LogPath=\\\\server\\ClearonLogs$"), std::wstring::npos);

    // The command line: lint's exit status is Clearon's code or 0/1.
    CheckPlatform platform;
    platform.environment = TestEnvironment().environment;
    std::wstring out;
    std::wstring err;
    EXPECT_EQ(RunCheck({L"lint", (dir / "missing.ini").wstring()}, platform, out, err),
              kExitConfigMissing);
    EXPECT_NE(out.find(L"The Clearon.ini file is missing."), std::wstring::npos);
    out.clear();
    EXPECT_EQ(RunCheck({L"lint", (dir / "fleet.ini").wstring()}, platform, out, err), kLintClean);
    EXPECT_NE(out.find(L"Summary: 0 warning(s)"), std::wstring::npos) << ToUtf8(out);
    out.clear();
    EXPECT_EQ(RunCheck({L"lint", Corpus("programs.ini").wstring()}, platform, out, err),
              kLintWarnings);
    EXPECT_NE(out.find(L"line 4: warning: a RunBeforeRemoval line with an empty command"),
              std::wstring::npos)
        << ToUtf8(out);
    out.clear();
    EXPECT_EQ(RunCheck({L"preview"}, platform, out, err), kCheckUsage);  // no registry here
    EXPECT_EQ(RunCheck({L"frobnicate"}, platform, out, err), kCheckUsage);
    EXPECT_EQ(RunCheck({}, platform, out, err), kCheckUsage);
    fs::remove_all(dir);
}

TEST(ConfigLint, TheSettingsAreClearonsOwnReading) {
    // Lint reports the switches through Clearon's own scan: last recognised
    // line wins, blanks are dropped, a bracket ends the section.
    const std::string text =
        "[Settings]\r\nShow GUI = Y\r\nShowGUI=N\r\nShowGUI=Y\r\nNote=[x]\r\nEnableLogging=N\r\n"
        "[ProductNames]\r\nAcme AntiVirus\r\n[UninstallPaths]\r\n";
    const LintResult result =
        LintConfigBytes(std::vector<std::uint8_t>(text.begin(), text.end()), TestEnvironment());
    EXPECT_TRUE(result.settings.ShowGUI);
    EXPECT_TRUE(result.settings.EnableLogging);
    EXPECT_TRUE(HasFinding(result, 2, Severity::Note, L"sets ShowGUI"));
    EXPECT_TRUE(HasFinding(result, 4, Severity::Note, L"overrides line 3"));
    EXPECT_TRUE(HasFinding(result, 5, Severity::Warning, L"it ends [Settings]"));
    EXPECT_TRUE(HasFinding(result, 6, Severity::Warning, L"outside any section"));
}

TEST(ConfigLintText, VisibleShowsWhatClearonReads) {
    EXPECT_EQ(Visible(L"a\tb\rc\x01"), L"a\\tb\\rc\\x01");
    EXPECT_EQ(Visible(std::wstring(1, static_cast<wchar_t>(0xFFE9))), L"<xE9>");
    EXPECT_EQ(ToUtf8(L"\u00e9"), "\xc3\xa9");
    EXPECT_EQ(FromUtf8("\xc3\xa9\xff"), std::wstring(L"\u00e9\uFFFD"));
    EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace clearon::check
