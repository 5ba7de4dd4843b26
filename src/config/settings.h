// The [Settings] section: the flags and strings that switch Clearon's
// behaviour, read once at start-up from ConfigText.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/wide_string.h"

namespace clearon {

// A notice is shown only when its text has at least this many characters
// after the escapes have been replaced.
inline constexpr std::size_t kMinMessageBoxTextLength = 6;

// Well below the 50 minutes of ClearonCheck deploy and Intune's 60, so a
// start stuck behind another run ends on its own, with a code that says
// "retry".
inline constexpr std::uint32_t kDefaultOtherRunTimeLimit = 15;

struct Settings {
    bool ShowGUI = false;
    bool AutoRunAfterUILoads = false;
    bool AskBeforeRemoval = true;
    bool SilentMSIInstaller = true;
    bool RemoveTessaral = false;
    bool CheckDiskSpace = true;
    bool ResumeAfterReboot = true;
    bool EnableLogging = true;
    bool ShowMessageBox = false;
    std::wstring MessageBoxText;
    std::wstring MSIExtraParameters;
    std::wstring InstallShieldExtraParameters;
    std::wstring DefaultExtraParameters;
    // How long to wait for each program's or uninstaller's process tree, in
    // minutes; 0 waits as long as it takes.
    std::uint32_t ProgramTimeLimit = 0;
    // How long a start waits for another Clearon's run to end, in minutes;
    // 0 does not wait at all.
    std::uint32_t OtherRunTimeLimit = kDefaultOtherRunTimeLimit;
    // Programs that others than administrators can change are run all the
    // same (a package on a share whose rights cannot be fixed).
    bool AllowUserWritablePrograms = false;
    // Further SIDs that may change the programs Clearon runs.
    std::vector<std::wstring> AllowedWriterSids;
};

// Key names, each defined once.
inline constexpr std::wstring_view kKeyOtherRunTimeLimit = L"OtherRunTimeLimit";
inline constexpr std::wstring_view kKeyShowGUI = L"ShowGUI";
inline constexpr std::wstring_view kKeyAutoRunAfterUILoads = L"AutoRunAfterUILoads";
inline constexpr std::wstring_view kKeyAskBeforeRemoval = L"AskBeforeRemoval";
inline constexpr std::wstring_view kKeySilentMSIInstaller = L"SilentMSIInstaller";
inline constexpr std::wstring_view kKeyRemoveTessaral = L"RemoveTessaral";
inline constexpr std::wstring_view kKeyCheckDiskSpace = L"CheckDiskSpace";
inline constexpr std::wstring_view kKeyResumeAfterReboot = L"ResumeAfterReboot";
inline constexpr std::wstring_view kKeyEnableLogging = L"EnableLogging";
inline constexpr std::wstring_view kKeyShowMessageBox = L"ShowMessageBox";
inline constexpr std::wstring_view kKeyMessageBoxText = L"MessageBoxText";
inline constexpr std::wstring_view kKeyMSIExtraParameters = L"MSIExtraParameters";
inline constexpr std::wstring_view kKeyInstallShieldExtraParameters =
    L"InstallShieldExtraParameters";
inline constexpr std::wstring_view kKeyDefaultExtraParameters = L"DefaultExtraParameters";
inline constexpr std::wstring_view kKeyLogPath = L"LogPath";
// Found by the first-line-that-contains rule like every value: no other key
// holds this name, and it holds no other key (settings_test checks both).
inline constexpr std::wstring_view kKeyProgramTimeLimit = L"ProgramTimeLimit";
// The largest ProgramTimeLimit taken (about 69 days); a larger number, or
// anything that is not a plain number of minutes, is refused.
inline constexpr std::uint32_t kMaxProgramTimeLimit = 99999;
inline constexpr std::wstring_view kKeyAllowUserWritablePrograms = L"AllowUserWritablePrograms";
inline constexpr std::wstring_view kKeyAllowedWriterSids = L"AllowedWriterSids";
inline constexpr std::wstring_view kKeyRunBeforeRemoval = L"RunBeforeRemoval";
inline constexpr std::wstring_view kKeyRunAfterRemoval = L"RunAfterRemoval";

// The switches, in the order a line's keys are applied.
struct FlagSetting {
    std::wstring_view key;
    bool Settings::*field;
};
inline constexpr std::array<FlagSetting, 10> kFlagSettings{{
    {kKeyShowGUI, &Settings::ShowGUI},
    {kKeyAutoRunAfterUILoads, &Settings::AutoRunAfterUILoads},
    {kKeyAskBeforeRemoval, &Settings::AskBeforeRemoval},
    {kKeySilentMSIInstaller, &Settings::SilentMSIInstaller},
    {kKeyRemoveTessaral, &Settings::RemoveTessaral},
    {kKeyCheckDiskSpace, &Settings::CheckDiskSpace},
    {kKeyResumeAfterReboot, &Settings::ResumeAfterReboot},
    {kKeyEnableLogging, &Settings::EnableLogging},
    {kKeyShowMessageBox, &Settings::ShowMessageBox},
    {kKeyAllowUserWritablePrograms, &Settings::AllowUserWritablePrograms},
}};

// What the value texts of a [Settings] line say, tested on the whole line:
// a yes-text ("=Y", "=true"), a no-text ("=N", "=false"), both (the no-text
// wins), or neither ("=1", "=on": the flag keeps its value).
enum class FlagValue { Neither, Yes, No, Both };
[[nodiscard]] FlagValue ClassifyFlagValue(std::wstring_view line) noexcept;

// Applies one line of [Settings] (spaces already dropped, line end cut): for
// each flag key the line contains, "=Y"/"=true" set it and then "=N"/"=false"
// clear it. Unrecognised values leave the flag as it was.
void ParseSettingsLine(std::wstring_view line, Settings& settings);

// The settings scan: walks ConfigText with the spaces dropped and hands every
// line of [Settings] (its header line included) to ParseSettingsLine.
void ScanSettingsSection(std::wstring_view config, Settings& settings);

// The value of the first [Settings] line that contains `key`: the text after
// the first "=", from its first character that is not a space, to the end of
// the line. Empty when no line matches or the line has no "=". A line longer
// than the 254-character line buffer is never taken as the match; it is
// skipped and the walk goes on.
[[nodiscard]] std::wstring GetSectionValue(std::wstring_view config, std::wstring_view key);

// The lookup behind GetSectionValue, which also tells whether a [Settings]
// line containing `key` was passed over, before the match or without one,
// because it is longer than the line buffer. Such a line is the one the
// administrator most likely meant, so a caller that must not act on a guess
// (ReadSettings) refuses the key instead of taking a later line.
struct SectionValue {
    std::wstring value;
    bool skippedTooLong = false;
};
[[nodiscard]] SectionValue FindSectionValue(std::wstring_view config, std::wstring_view key);

// "\n" and "\t" (either letter case) become a line feed and a tab.
[[nodiscard]] std::wstring UnescapeMessageBoxText(std::wstring_view value);

// Fills every field of `settings` from `config` in start-up order: the scan,
// MessageBoxText with its escapes and the 6-character rule, then the three
// parameter strings. A string value that does not fit its 254-character
// field, or whose line is too long for the line buffer (see
// FindSectionValue), is refused: the field stays empty and the key is named
// in the returned list, so the caller can log it. A cut parameter string
// could change what an uninstaller is told to do.
// ProgramTimeLimit is refused the same way when its value is not a plain
// number of minutes up to kMaxProgramTimeLimit: it then stays 0 (no limit).
// OtherRunTimeLimit takes the same numbers; absent, empty or refused, it
// keeps its default. AllowedWriterSids is refused when ParseSidList refuses
// it (it stays empty).
std::vector<std::wstring> ReadSettings(std::wstring_view config, Settings& settings);

// An AllowedWriterSids value: SIDs in their "S-1-..." form, separated by
// commas, semicolons or blanks; nothing when any item is not such a SID
// (ReadSettings then refuses the key and trusts no further SID).
[[nodiscard]] std::optional<std::vector<std::wstring>> ParseSidList(std::wstring_view value);

// A ProgramTimeLimit value: decimal digits, blanks after them allowed;
// nothing for anything else or a number above kMaxProgramTimeLimit. The
// empty value is 0.
[[nodiscard]] std::optional<std::uint32_t> ParseProgramTimeLimit(std::wstring_view value) noexcept;

// Expands the %NAME% references of a LogPath value by the tool's rule
// (rescanning from the second character after each replacement); `lookup`
// returns a variable's value, or nothing when it is undefined. Returns
// nothing when an expansion is refused by ReplaceNoCase.
[[nodiscard]] std::wstring ExpandLogPathReferences(
    std::wstring_view path,
    const std::function<std::optional<std::wstring>(std::wstring_view name)>& lookup);

// The directory part of the run log's path: LogPath (or `exeDirectory` when it
// is empty) expanded and ending with exactly the backslash the rule adds.
[[nodiscard]] std::wstring LogDirectoryFromSetting(
    std::wstring_view logPathValue, std::wstring_view exeDirectory,
    const std::function<std::optional<std::wstring>(std::wstring_view name)>& lookup);

// The run log's file name: "Clearon." + computer name + ".log", or
// "Clearon.log" when the computer name cannot be read.
inline constexpr std::wstring_view kLogFilePrefix = L"Clearon.";
inline constexpr std::wstring_view kLogFileSuffix = L".log";
inline constexpr std::wstring_view kLogFileWithoutName = L"Clearon.log";

// The run log's full path: directory + "Clearon." + computer name + ".log",
// or + "Clearon.log" when the name could not be read. Returns the empty text
// (every entry then goes to the error log) when the path would not fit the
// 254-character field: a cut path would write somewhere else.
[[nodiscard]] std::wstring ComposeLogFilePath(std::wstring_view directory,
                                              const std::optional<std::wstring>& computerName);

}  // namespace clearon
