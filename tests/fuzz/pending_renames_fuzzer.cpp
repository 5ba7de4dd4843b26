// Feeds two arbitrary pending-rename lists, as Windows' value may hold
// anything installers wrote (no closing NUL, an odd number of strings, two
// NULs alone), to the merge. The promise checked besides the sanitizers': the
// pairs of the result, read as Windows reads them at boot, are the pairs of
// the first list and then those of the second, none shifted, dropped or
// invented. The pairs are read here by a reader of this file's own. The same
// two lists then stand for the system value and the set-aside value: a move
// between them is cut short after a chosen number of changes, and the
// recovery of the next start must leave the set-aside pairs, then the
// system's, in the system value alone, and leave no witness behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "resume/pending_renames.h"
#include "support/host/memory_boot_witness.h"
#include "support/host/memory_registry.h"

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

// Strings two by two until an empty source; a source at the very end gets
// the empty target a completed list gives it.
Pairs ReadAsWindows(const std::wstring& list) {
    std::vector<std::wstring> strings(1);
    for (wchar_t c : list) {
        if (c == L'\0') {
            strings.emplace_back();
        } else {
            strings.back().push_back(c);
        }
    }
    if (strings.back().empty()) strings.pop_back();  // what followed the last NUL
    Pairs pairs;
    for (std::size_t i = 0; i < strings.size(); i += 2) {
        if (strings[i].empty()) break;
        pairs.emplace_back(strings[i], i + 1 < strings.size() ? strings[i + 1] : L"");
    }
    return pairs;
}

// What a value holds for Clearon: nothing at all in one of at most one
// character.
Pairs Held(const std::wstring& list) {
    return list.size() <= 1 ? Pairs() : ReadAsWindows(list);
}

void CheckRecovery(const std::wstring& system, const std::wstring& aside, std::uint8_t control) {
    using clearon::RegistryRoot;
    clearon::test::MemoryRegistry registry;
    const auto root = RegistryRoot::LocalMachine;
    const auto key = clearon::kSessionManagerKey;
    if (control & 0x10) registry.SetMultiString(root, key, clearon::kPendingRenamesValue, system);
    if (control & 0x20) {
        registry.SetMultiString(root, key, clearon::kPendingRenamesAsideValue, aside);
    }
    registry.CreateKey(root, key);
    int allowed = control & 7;
    registry.mayChange = [&allowed] { return allowed-- > 0; };
    clearon::test::MemoryBootWitness witness(&registry);
    if (control & 8) {
        clearon::SetPendingRenamesAside(registry, witness);
    } else {
        clearon::RestorePendingRenames(registry, witness);
    }
    registry.mayChange = nullptr;
    clearon::RecoverPendingRenames(registry, witness);

    Pairs expected = control & 0x20 ? Held(aside) : Pairs();
    const Pairs later = control & 0x10 ? Held(system) : Pairs();
    expected.insert(expected.end(), later.begin(), later.end());
    const auto now = registry.GetCharacters(root, key, clearon::kPendingRenamesValue);
    Require((now ? Held(*now) : Pairs()) == expected);
    Require(!registry.Get(root, key, clearon::kPendingRenamesAsideValue));
    Require(!registry.Get(root, key, clearon::kPendingRenamesJournalValue));
    Require(witness.files.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // Few letters, many NULs: lists shaped like real ones.
    std::wstring lists[2];
    const std::size_t split = data[0] % (size);
    for (std::size_t i = 1; i < size; ++i) {
        const std::uint8_t byte = data[i];
        lists[i <= split ? 0 : 1].push_back(
            (byte & 3) == 0 ? L'\0' : static_cast<wchar_t>(L'a' + byte % 7));
    }

    const std::wstring merged = clearon::MergeMultiStrings(lists[0], lists[1]);
    Pairs expected = ReadAsWindows(lists[0]);
    const Pairs second = ReadAsWindows(lists[1]);
    expected.insert(expected.end(), second.begin(), second.end());
    Require(ReadAsWindows(merged) == expected);
    // Well formed: nothing at all, or every pair terminated and the closing NUL.
    Require(merged.empty() || (merged.size() >= 3 && merged[merged.size() - 1] == L'\0' &&
                               merged[merged.size() - 2] == L'\0'));
    CheckRecovery(lists[1], lists[0], data[size - 1]);
    return 0;
}
