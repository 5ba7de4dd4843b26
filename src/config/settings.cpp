#include "config/settings.h"

#include <array>
#include <utility>

#include "config/config_lines.h"
#include "text/wide_string.h"

namespace clearon {

namespace {

// Value texts, found anywhere in the line and in any letter case: "=Yes" and
// "=TRUE" set a flag, "=no" and "=False" clear it.
constexpr std::wstring_view kValueYes = L"=Y";
constexpr std::wstring_view kValueTrue = L"=true";
constexpr std::wstring_view kValueNo = L"=N";
constexpr std::wstring_view kValueFalse = L"=false";

constexpr wchar_t kEquals = L'=';
constexpr wchar_t kSpace = L' ';
constexpr wchar_t kPercent = L'%';
constexpr wchar_t kBackslash = L'\\';

constexpr std::wstring_view kEscapedLineFeed = L"\\n";
constexpr std::wstring_view kEscapedTab = L"\\t";

// Values can name further references; two variables that name each other
// would rewrite the path for ever without changing its length, so the number
// of replacements is bounded far above anything a real path needs.
constexpr int kMaxReferenceExpansions = 1024;

// Reads one string setting for ReadSettings; false when it is refused.
bool ReadStringSetting(std::wstring_view config, std::wstring_view key, std::wstring& field,
                       std::vector<std::wstring>& refused) {
    SectionValue found = FindSectionValue(config, key);
    if (found.skippedTooLong || found.value.size() > kMaxFieldLength) {
        field.clear();
        refused.emplace_back(key);
        return false;
    }
    field = std::move(found.value);
    return true;
}

}  // namespace

FlagValue ClassifyFlagValue(std::wstring_view line) noexcept {
    // The value tests look at the whole line, not at the text after the key.
    const bool yes = ContainsNoCase(line, kValueYes) || ContainsNoCase(line, kValueTrue);
    const bool no = ContainsNoCase(line, kValueNo) || ContainsNoCase(line, kValueFalse);
    if (yes && no) return FlagValue::Both;
    if (yes) return FlagValue::Yes;
    return no ? FlagValue::No : FlagValue::Neither;
}

void ParseSettingsLine(std::wstring_view line, Settings& settings) {
    const FlagValue value = ClassifyFlagValue(line);
    for (const FlagSetting& flag : kFlagSettings) {
        if (!ContainsNoCase(line, flag.key)) continue;
        // The clearing test comes last: a line holding both a yes and a no
        // text clears the flag.
        if (value == FlagValue::Yes || value == FlagValue::Both) settings.*flag.field = true;
        if (value == FlagValue::No || value == FlagValue::Both) settings.*flag.field = false;
    }
}

void ScanSettingsSection(std::wstring_view config, Settings& settings) {
    // Unlike the other consumers, this scan drops the spaces and tests for the
    // section header before the entry test, so the header line itself is
    // applied as well.
    bool inside = false;
    ForEachConfigLine(config, LineSpaces::Drop, [&](std::wstring_view line) {
        if (EndsSection(line)) inside = false;
        if (StartsSection(line, kSettingsHeader)) inside = true;
        if (inside && !IsCommentLine(line)) ParseSettingsLine(line, settings);
        return true;
    });
}

SectionValue FindSectionValue(std::wstring_view config, std::wstring_view key) {
    SectionValue found;
    // The line a visit sees lives only as long as the visit: keep a copy.
    std::wstring match;
    bool matched = false;
    ForEachSectionEntry(config, kSettingsHeader, [&](const SectionEntry& entry) {
        if (!ContainsNoCase(entry.text, key)) return true;
        if (entry.tooLong) {
            found.skippedTooLong = true;
            return true;
        }
        match.assign(entry.text);
        matched = true;
        return false;
    });
    if (!matched) return found;

    const std::size_t equals = match.find(kEquals);
    if (equals == std::wstring_view::npos) return found;
    // Only spaces are skipped; a tab after "=" belongs to the value, and so
    // does every "=" after the first.
    std::size_t start = equals + 1;
    while (start < match.size() && match[start] == kSpace) ++start;
    found.value.assign(match.substr(start));
    return found;
}

std::wstring GetSectionValue(std::wstring_view config, std::wstring_view key) {
    return FindSectionValue(config, key).value;
}

std::wstring UnescapeMessageBoxText(std::wstring_view value) {
    const std::wstring lines = ReplaceNoCase(value, kEscapedLineFeed, L"\n");
    return ReplaceNoCase(lines, kEscapedTab, L"\t");
}

std::vector<std::wstring> ReadSettings(std::wstring_view config, Settings& settings) {
    std::vector<std::wstring> refused;
    ScanSettingsSection(config, settings);

    std::wstring notice;
    if (ReadStringSetting(config, kKeyMessageBoxText, notice, refused)) {
        settings.MessageBoxText = UnescapeMessageBoxText(notice);
    } else {
        settings.MessageBoxText.clear();
    }
    // A notice too short to say anything is not shown, even when asked for.
    if (settings.MessageBoxText.size() < kMinMessageBoxTextLength) settings.ShowMessageBox = false;

    (void)ReadStringSetting(config, kKeyMSIExtraParameters, settings.MSIExtraParameters, refused);
    (void)ReadStringSetting(config, kKeyInstallShieldExtraParameters,
                            settings.InstallShieldExtraParameters, refused);
    (void)ReadStringSetting(config, kKeyDefaultExtraParameters, settings.DefaultExtraParameters,
                            refused);

    std::wstring limitText;
    settings.ProgramTimeLimit = 0;
    if (ReadStringSetting(config, kKeyProgramTimeLimit, limitText, refused)) {
        if (const std::optional<std::uint32_t> minutes = ParseProgramTimeLimit(limitText)) {
            settings.ProgramTimeLimit = *minutes;
        } else {
            refused.emplace_back(kKeyProgramTimeLimit);
        }
    }
    settings.OtherRunTimeLimit = kDefaultOtherRunTimeLimit;
    // Absent and empty alike keep the default: an empty value is no reason
    // to give up on another run at once.
    if (ReadStringSetting(config, kKeyOtherRunTimeLimit, limitText, refused) &&
        !limitText.empty()) {
        if (const std::optional<std::uint32_t> minutes = ParseProgramTimeLimit(limitText)) {
            settings.OtherRunTimeLimit = *minutes;
        } else {
            refused.emplace_back(kKeyOtherRunTimeLimit);
        }
    }

    std::wstring sidsText;
    settings.AllowedWriterSids.clear();
    if (ReadStringSetting(config, kKeyAllowedWriterSids, sidsText, refused)) {
        if (std::optional<std::vector<std::wstring>> sids = ParseSidList(sidsText)) {
            settings.AllowedWriterSids = std::move(*sids);
        } else {
            refused.emplace_back(kKeyAllowedWriterSids);
        }
    }
    return refused;
}

std::optional<std::vector<std::wstring>> ParseSidList(std::wstring_view value) {
    std::vector<std::wstring> sids;
    std::size_t at = 0;
    while (at < value.size()) {
        const std::size_t end = value.find_first_of(L",; \t", at);
        const std::wstring_view item =
            value.substr(at, end == std::wstring_view::npos ? std::wstring_view::npos : end - at);
        at = end == std::wstring_view::npos ? value.size() : end + 1;
        if (item.empty()) continue;
        // "S-1-" and then numbers separated by single dashes: S-R-I-S-S...
        bool valid = item.size() > 4 && (item[0] == L'S' || item[0] == L's') && item[1] == L'-' &&
                     item[2] == L'1' && item[3] == L'-';
        bool digitBefore = false;
        for (std::size_t i = 4; valid && i < item.size(); ++i) {
            if (item[i] >= L'0' && item[i] <= L'9') {
                digitBefore = true;
            } else {
                valid = item[i] == L'-' && digitBefore;
                digitBefore = false;
            }
        }
        if (!valid || !digitBefore) return std::nullopt;
        sids.emplace_back(item);
    }
    return sids;
}

std::optional<std::uint32_t> ParseProgramTimeLimit(std::wstring_view value) noexcept {
    while (!value.empty() && (value.back() == kSpace || value.back() == L'\t')) {
        value.remove_suffix(1);
    }
    std::uint32_t minutes = 0;
    for (const wchar_t c : value) {
        if (c < L'0' || c > L'9') return std::nullopt;
        minutes = minutes * 10 + static_cast<std::uint32_t>(c - L'0');
        if (minutes > kMaxProgramTimeLimit) return std::nullopt;
    }
    return minutes;
}

std::wstring ExpandLogPathReferences(
    std::wstring_view path,
    const std::function<std::optional<std::wstring>(std::wstring_view name)>& lookup) {
    std::wstring result(path);
    if (result.find(kPercent) == std::wstring::npos) return result;

    std::wstring reference;  // "%NAME%" as collected, percent signs included
    bool inside = false;
    int expansions = 0;
    for (std::size_t position = 0; position < result.size(); ++position) {
        const wchar_t c = result[position];
        if (c == kPercent && inside) {
            reference.push_back(kPercent);
            if (++expansions > kMaxReferenceExpansions) return {};
            const std::wstring_view name(reference.data() + 1, reference.size() - 2);
            const std::optional<std::wstring> value = lookup(name);
            // An undefined variable simply disappears from the path. A value
            // that holds the reference itself is refused by ReplaceNoCase,
            // which leaves the whole path empty.
            result = ReplaceNoCase(result, reference, value.value_or(std::wstring()));
            reference.clear();
            inside = false;
            // The scan starts over on the rewritten path, but the increment
            // below moves it to the second character: a "%" in the first
            // character never opens a reference after a replacement.
            position = 0;
            continue;
        }
        if (c == kPercent) inside = true;
        if (inside) reference.push_back(c);
    }
    return result;
}

std::wstring LogDirectoryFromSetting(
    std::wstring_view logPathValue, std::wstring_view exeDirectory,
    const std::function<std::optional<std::wstring>(std::wstring_view name)>& lookup) {
    std::wstring directory =
        ExpandLogPathReferences(logPathValue.empty() ? exeDirectory : logPathValue, lookup);
    // An empty path becomes "\", the root of the current drive.
    if (directory.empty() || directory.back() != kBackslash) directory.push_back(kBackslash);
    return directory;
}

std::wstring ComposeLogFilePath(std::wstring_view directory,
                                const std::optional<std::wstring>& computerName) {
    std::wstring path(directory);
    if (computerName.has_value()) {
        path.append(kLogFilePrefix).append(*computerName).append(kLogFileSuffix);
    } else {
        path.append(kLogFileWithoutName);
    }
    if (path.size() > kMaxFieldLength) return {};
    return path;
}

}  // namespace clearon
