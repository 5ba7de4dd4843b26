#include "resume/pending_renames.h"

#include <cstdint>
#include <iterator>
#include <mutex>
#include <vector>

namespace clearon {
namespace {

// One character: enough to tell "more than one character" from everything
// else without reading the list.
constexpr std::size_t kProbeBytes = 2;

std::mutex g_movesLock;

std::vector<std::uint8_t> ToBytes(std::wstring_view characters) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(characters.size() * 2);
    for (wchar_t c : characters) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

std::wstring ToCharacters(const std::vector<std::uint8_t>& bytes) {
    std::wstring characters;
    characters.reserve(bytes.size() / 2);
    // An odd last byte is no character and is not carried over.
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        characters.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return characters;
}

RegistryStatus Probe(Registry& registry, std::wstring_view valueName) {
    RegistryValue ignored;
    return registry.QueryValue(RegistryRoot::LocalMachine, kSessionManagerKey, valueName,
                               kProbeBytes, ignored);
}

}  // namespace

std::optional<std::wstring> ReadMultiStringValue(Registry& registry, std::wstring_view valueName) {
    std::size_t capacity = kMultiStringFirstReadBytes;
    for (;;) {
        RegistryValue value;
        const RegistryStatus status = registry.QueryValue(
            RegistryRoot::LocalMachine, kSessionManagerKey, valueName, capacity, value);
        if (status == RegistryStatus::Ok) return ToCharacters(value.data);
        // The size Windows reports with "more data" is not trusted: the value
        // may grow again before the next query, so the buffer simply doubles.
        if (status != RegistryStatus::MoreData || capacity >= kMultiStringMaxReadBytes) {
            return std::nullopt;
        }
        capacity *= 2;
    }
}

std::vector<RenamePair> RenamePairs(std::wstring_view list) {
    std::vector<std::wstring> strings;
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find(L'\0', at);
        if (end == std::wstring_view::npos) end = list.size();
        strings.emplace_back(list.substr(at, end - at));
        at = end + 1;
    }
    std::vector<RenamePair> pairs;
    for (std::size_t i = 0; i < strings.size() && !strings[i].empty(); i += 2) {
        pairs.push_back({strings[i], i + 1 < strings.size() ? strings[i + 1] : std::wstring()});
    }
    return pairs;
}

std::wstring JoinRenamePairs(const std::vector<RenamePair>& pairs) {
    std::wstring list;
    for (const RenamePair& pair : pairs) {
        list += pair.source;
        list.push_back(L'\0');
        list += pair.target;
        list.push_back(L'\0');
    }
    if (!list.empty()) list.push_back(L'\0');
    return list;
}

std::wstring MergeMultiStrings(std::wstring_view first, std::wstring_view second) {
    std::vector<RenamePair> pairs = RenamePairs(first);
    std::vector<RenamePair> more = RenamePairs(second);
    pairs.insert(pairs.end(), std::make_move_iterator(more.begin()),
                 std::make_move_iterator(more.end()));
    return JoinRenamePairs(pairs);
}

bool MoveMultiStringValue(Registry& registry, std::wstring_view source,
                          std::wstring_view destination, MovedPairs order) {
    // Missing, empty or a single character (at most a lone closing NUL): no
    // operation to move, and nothing is touched.
    if (Probe(registry, source) != RegistryStatus::MoreData) return true;

    // A source that cannot be read whole stays where it is; one without a
    // pair (a lone pair of NULs) has nothing to move.
    const std::optional<std::wstring> moving = ReadMultiStringValue(registry, source);
    if (!moving || RenamePairs(*moving).empty()) return true;

    std::wstring written;
    switch (Probe(registry, destination)) {
        case RegistryStatus::MoreData: {
            // The destination holds operations of its own; if they cannot be
            // read, overwriting them would lose them, so nothing moves.
            const std::optional<std::wstring> present = ReadMultiStringValue(registry, destination);
            if (!present) return true;
            written = order == MovedPairs::BeforeDestination ? MergeMultiStrings(*moving, *present)
                                                             : MergeMultiStrings(*present, *moving);
            break;
        }
        case RegistryStatus::Ok:
        case RegistryStatus::NotFound:
            // Missing, empty or one character: nothing there worth keeping.
            // The list moves exactly as it is.
            written = *moving;
            break;
        case RegistryStatus::Failed:
            // What the destination holds is unknown; leave both alone.
            return true;
    }

    if (registry.SetValue(RegistryRoot::LocalMachine, kSessionManagerKey, destination, kRegMultiSz,
                          ToBytes(written)) != RegistryStatus::Ok) {
        return true;  // not written: the source keeps the operations
    }
    // A failed delete leaves the operations in both values; the next run
    // merges them again. Twice is better than never.
    static_cast<void>(registry.DeleteValue(RegistryRoot::LocalMachine, kSessionManagerKey, source));
    return true;
}

void SetPendingRenamesAside(Registry& registry) {
    const std::lock_guard<std::mutex> lock(g_movesLock);
    // What is in the system value now was scheduled after what was set aside
    // before.
    MoveMultiStringValue(registry, kPendingRenamesValue, kPendingRenamesAsideValue,
                         MovedPairs::AfterDestination);
}

void RestorePendingRenames(Registry& registry) {
    const std::lock_guard<std::mutex> lock(g_movesLock);
    MoveMultiStringValue(registry, kPendingRenamesAsideValue, kPendingRenamesValue,
                         MovedPairs::BeforeDestination);
}

}  // namespace clearon
