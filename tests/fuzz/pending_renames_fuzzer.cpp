// Feeds two arbitrary pending-rename lists, as Windows' value may hold
// anything installers wrote (no closing NUL, an odd number of strings, two
// NULs alone), to the merge. The promise checked besides the sanitizers': the
// pairs of the result, read as Windows reads them at boot, are the pairs of
// the first list and then those of the second, none shifted, dropped or
// invented. The pairs are read here by a reader of this file's own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "resume/pending_renames.h"

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
    return 0;
}
