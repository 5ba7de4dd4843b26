#include "check/lint/lint_checks.h"

#include <array>

#include "check/cli/check_text.h"
#include "config/config_lines.h"
#include "removal/product_discovery.h"
#include "removal/removal_run.h"
#include "text/wide_string.h"

namespace clearon::check {
namespace {

// Paths in [UninstallPaths] are below HKEY_LOCAL_MACHINE already.
constexpr std::array<std::wstring_view, 3> kHivePrefixes{L"HKEY_LOCAL_MACHINE", L"HKLM\\",
                                                         L"HKEY_"};

}  // namespace

void LintProductNames(LintContext& lint) {
    const std::vector<LintEntry> names = SectionEntries(lint.text, kProductNamesHeader);
    if (names.empty()) {
        lint.Note(0, L"no product names: Clearon removes nothing (the program lists still run)");
    }
    for (std::size_t n = 0; n < names.size(); ++n) {
        const LintEntry& entry = names[n];
        const std::wstring_view name = entry.text;
        if (entry.tooLong) {
            lint.Warn(entry.number, L"a product name longer than 254 characters: Clearon skips it");
            continue;
        }
        if (name.empty()) {
            lint.Warn(
                entry.number,
                std::wstring(entry.number == lint.result.lineCount
                                 ? L"the file ends with a line end, so Clearon reads one more, "
                                   L"empty line, and it belongs to [ProductNames]"
                                 : L"an empty line in [ProductNames] counts as a name") +
                    L": an empty name matches nothing, but runs Proventia Desktop's remover "
                    L"(AgentRemove.exe) when Proventia Desktop is installed" +
                    (entry.number == lint.result.lineCount
                         ? L"; end the file with another section, or without a last line end"
                         : L""));
            continue;
        }
        lint.Note(entry.number, L"product name " + Quoted(name));
        for (std::size_t k = 0; k < n; ++k) {
            if (EqualsNoCase(names[k].text, name)) {
                lint.Note(entry.number, L"already listed at line " +
                                            std::to_wstring(names[k].number) +
                                            L": searched for again");
                break;
            }
        }
        if (TriggersProventiaCheck(name)) {
            if (EqualsNoCase(name, kProventiaProduct)) {
                lint.Note(entry.number,
                          L"also runs Proventia Desktop's own remover (AgentRemove.exe) "
                          L"when it is installed");
            } else {
                lint.Warn(entry.number,
                          Quoted(name) +
                              L" is a piece of \"Proventia Desktop\": "
                              L"besides the products it names, Clearon runs Proventia "
                              L"Desktop's remover (AgentRemove.exe) when that is installed");
            }
        }
        if (!IsScannableProductName(name)) {
            lint.Warn(entry.number,
                      L"has " + std::to_wstring(name.size()) +
                          L" characters: names under 5 characters are never looked for in "
                          L"the uninstall keys, so it removes nothing");
        }
        if (TrimBlanks(name) != name || name.front() == L'\t' || name.back() == L'\t') {
            lint.Warn(entry.number,
                      L"begins or ends with blanks, which are part of the name: it "
                      L"matches only display names that have them too");
        }
        if (HasSignExtended(name)) {
            lint.Warn(
                entry.number,
                std::wstring(LooksLikeUtf8(name)
                                 ? L"holds UTF-8 letters, which Clearon reads byte by byte "
                                   L"(each becomes two or three characters)"
                                 : L"holds letters above ASCII, which Clearon reads from a "
                                   L"single-byte file as U+FF80..U+FFFF (0xE9 becomes U+FFE9, not "
                                   L"é)") +
                    L": the name never matches the display name Windows stores; save the "
                    L"file as UTF-16 LE");
        }
        if (ContainsNoCase(name, kMakerName) && !lint.result.settings.RemoveTessaral) {
            lint.Warn(entry.number,
                      L"names a product of the maker: entries whose display name "
                      L"contains \"Tessaral\" are left alone while RemoveTessaral is N");
        }
    }
}

void LintUninstallPaths(LintContext& lint) {
    ForEachUninstallPath(lint.text, [&](const SectionEntry& entry) {
        if (entry.tooLong) {
            lint.Warn(entry.number,
                      L"a registry path longer than 254 characters: Clearon skips it");
            return;
        }
        lint.Note(entry.number, L"also scanned: HKEY_LOCAL_MACHINE\\" + Visible(entry.text));
        for (const std::wstring_view prefix : kHivePrefixes) {
            if (entry.text.size() >= prefix.size() &&
                EqualsNoCase(entry.text.substr(0, prefix.size()), prefix)) {
                lint.Warn(entry.number,
                          L"paths are taken below HKEY_LOCAL_MACHINE already: this one "
                          L"names a key that does not exist; leave the hive out");
                break;
            }
        }
        if (TrimBlanks(entry.text) != entry.text) {
            lint.Warn(entry.number,
                      L"begins or ends with blanks, which are part of the key path: "
                      L"the key is not found");
        }
    });
}

}  // namespace clearon::check
