// Feeds arbitrary bytes through everything that reads Clearon.ini: the
// decoding and validation, the line and section rules, the settings and the
// log path. Besides the sanitizers' checks, the invariants the rest of the
// program relies on are asserted here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "config/config_file.h"
#include "config/config_lines.h"
#include "config/settings.h"

namespace {

using namespace clearon;

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

// A fixed environment, so a crash reproduces: a few ordinary variables, some
// that refer to themselves or to each other, and names beginning with X that
// expand to a further reference built from the rest of the name.
std::optional<std::wstring> LookUp(std::wstring_view name) {
    if (name == L"SystemRoot") return L"C:\\Windows";
    if (name == L"TEMP") return L"C:\\Users\\admin\\AppData\\Local\\Temp";
    if (name == L"SELF") return L"x%self%y";
    if (name == L"PING") return L"%PONG%";
    if (name == L"PONG") return L"%PING%";
    if (name == L"LONG") return std::wstring(254, L'L');
    if (name == L"PCT") return L"50%";
    if (!name.empty() && name.front() == L'X') {
        return L"%" + std::wstring(name.substr(1)) + L"%";
    }
    return std::nullopt;
}

constexpr std::wstring_view kKeys[] = {
    kKeyShowGUI,
    kKeyAutoRunAfterUILoads,
    kKeyAskBeforeRemoval,
    kKeySilentMSIInstaller,
    kKeyRemoveTessaral,
    kKeyCheckDiskSpace,
    kKeyResumeAfterReboot,
    kKeyEnableLogging,
    kKeyShowMessageBox,
    kKeyMessageBoxText,
    kKeyMSIExtraParameters,
    kKeyInstallShieldExtraParameters,
    kKeyDefaultExtraParameters,
    kKeyLogPath,
    kKeyRunBeforeRemoval,
    kKeyRunAfterRemoval,
};

constexpr std::wstring_view kHeaders[] = {kSettingsHeader, kProductNamesHeader,
                                          kUninstallPathsHeader};

void CheckLines(std::wstring_view config) {
    for (const LineSpaces spaces : {LineSpaces::Keep, LineSpaces::Drop}) {
        std::size_t count = 0;
        ForEachConfigLine(config, spaces, [&](std::wstring_view line) {
            ++count;
            Require(line.find(L'\n') == std::wstring_view::npos);
            Require(line.find(L'\0') == std::wstring_view::npos);
            if (spaces == LineSpaces::Drop) Require(line.find(L' ') == std::wstring_view::npos);
            Require(line.size() <= config.size());
            return true;
        });
        Require(count >= 1);
    }
}

void CheckSettings(std::wstring_view config) {
    Settings scanned;
    ScanSettingsSection(config, scanned);

    Settings settings;
    const auto refused = ReadSettings(config, settings);
    Require(settings.ShowGUI == scanned.ShowGUI);
    Require(settings.MessageBoxText.size() <= kMaxFieldLength);
    Require(settings.MSIExtraParameters.size() <= kMaxFieldLength);
    Require(settings.InstallShieldExtraParameters.size() <= kMaxFieldLength);
    Require(settings.DefaultExtraParameters.size() <= kMaxFieldLength);
    if (settings.ShowMessageBox) {
        Require(settings.MessageBoxText.size() >= kMinMessageBoxTextLength);
    }
    Require(refused.size() <= 4);

    for (const std::wstring_view key : kKeys) {
        const std::wstring value = GetSectionValue(config, key);
        Require(value.size() < kMaxLineLength);
        Require(value.empty() || value.front() != L' ');
    }

    const std::wstring logPath = GetSectionValue(config, kKeyLogPath);
    const std::wstring directory = LogDirectoryFromSetting(logPath, L"C:\\Tools", LookUp);
    Require(!directory.empty() && directory.back() == L'\\');
    const std::wstring named = ComposeLogFilePath(directory, std::wstring(L"WS0142"));
    Require(named.size() <= kMaxFieldLength);
    const std::wstring unnamed = ComposeLogFilePath(directory, std::nullopt);
    Require(unnamed.size() <= kMaxFieldLength);
    // The first line of the file, taken as a LogPath, reaches the expansion
    // with whatever percent signs the input holds.
    ForEachConfigLine(config, LineSpaces::Keep, [](std::wstring_view line) {
        if (line.size() <= kMaxLineLength) (void)ExpandLogPathReferences(line, LookUp);
        return false;
    });
}

void CheckSections(std::wstring_view config) {
    for (const std::wstring_view header : kHeaders) {
        ForEachSectionEntry(config, header, [](const SectionEntry& entry) {
            Require(entry.tooLong == (entry.text.size() > kMaxLineLength));
            Require(!IsCommentLine(entry.text));
            Require(!EndsSection(entry.text));
            return true;
        });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::wstring config;
    const int result = DecodeConfigBytes(bytes, &bytes, config);
    Require(result == 0 || result == kExitConfigBadFormat || result == kExitConfigTooLarge);
    if (result == 0) {
        Require(IsValidConfigText(config));
        Require(config.size() < kConfigCapacity);
        Require(config.find(L'\0') == std::wstring::npos);
    } else {
        // A refused file never reaches the consumers in the program, but they
        // must cope with any text: give them the single-byte reading.
        config = DecodeSignExtended(bytes);
        if (config.size() >= kConfigCapacity) config.resize(kConfigCapacity - 1);
    }
    CheckLines(config);
    CheckSettings(config);
    CheckSections(config);
    return 0;
}
