#include "resume/pending_renames.h"

#include <cstdint>
#include <iterator>
#include <vector>

namespace clearon {
namespace {

std::wstring ToCharacters(const std::vector<std::uint8_t>& bytes) {
    std::wstring characters;
    characters.reserve(bytes.size() / 2);
    // An odd last byte is no character and is not carried over.
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        characters.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return characters;
}

}  // namespace

ListValue ReadListValue(Registry& registry, std::wstring_view valueName) {
    std::size_t capacity = kMultiStringFirstReadBytes;
    for (;;) {
        RegistryValue value;
        const RegistryStatus status = registry.QueryValue(
            RegistryRoot::LocalMachine, kSessionManagerKey, valueName, capacity, value);
        if (status == RegistryStatus::Ok) return {true, true, ToCharacters(value.data)};
        if (status == RegistryStatus::NotFound) return {true, false, {}};
        // The size Windows reports with "more data" is not trusted: the value
        // may grow again before the next query, so the buffer simply doubles.
        if (status != RegistryStatus::MoreData || capacity >= kMultiStringMaxReadBytes) return {};
        capacity *= 2;
    }
}

std::optional<std::wstring> ReadMultiStringValue(Registry& registry, std::wstring_view valueName) {
    ListValue read = ReadListValue(registry, valueName);
    if (!read.present) return std::nullopt;
    return std::move(read.text);
}

std::vector<RenamePair> HeldPairs(std::wstring_view list) {
    // At most a lone character: no operation, whatever it is.
    if (list.size() <= 1) return {};
    return RenamePairs(list);
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

}  // namespace clearon
