#include "resume/pending_renames.h"

#include <cstdint>
#include <vector>

namespace clearon {
namespace {

// One character: enough to tell "more than one character" from everything
// else without reading the list.
constexpr std::size_t kProbeBytes = 2;

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

// The list with its last string terminated and its closing NUL present; the
// empty list ("" or a lone closing NUL) becomes "". Two NULs at the end are
// taken as terminator and closing NUL: that is how every writer of this value
// leaves it, and an empty last string cannot be told from a closing NUL.
std::wstring Completed(std::wstring_view list) {
    if (list.empty() || (list.size() == 1 && list[0] == L'\0')) return {};
    std::wstring completed(list);
    if (completed.back() != L'\0') {
        completed.append(2, L'\0');
    } else if (completed.size() < 2 || completed[completed.size() - 2] != L'\0') {
        completed.push_back(L'\0');
    }
    return completed;
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

std::wstring MergeMultiStrings(std::wstring_view source, std::wstring_view destination) {
    std::wstring merged = Completed(source);
    // The source's closing NUL makes way for the destination's first string.
    if (!merged.empty()) merged.pop_back();
    const std::wstring tail = Completed(destination);
    if (tail.empty()) {
        merged.push_back(L'\0');
    } else {
        merged += tail;
    }
    return merged;
}

bool MoveMultiStringValue(Registry& registry, std::wstring_view source,
                          std::wstring_view destination) {
    // Missing, empty or a single character (at most a lone closing NUL): no
    // operation to move, and nothing is touched.
    if (Probe(registry, source) != RegistryStatus::MoreData) return true;

    // A source that cannot be read whole stays where it is.
    const std::optional<std::wstring> moving = ReadMultiStringValue(registry, source);
    if (!moving || moving->size() <= 1) return true;

    std::wstring written;
    switch (Probe(registry, destination)) {
        case RegistryStatus::MoreData: {
            // The destination holds operations of its own; if they cannot be
            // read, overwriting them would lose them, so nothing moves.
            const std::optional<std::wstring> present = ReadMultiStringValue(registry, destination);
            if (!present) return true;
            written = MergeMultiStrings(*moving, *present);
            break;
        }
        case RegistryStatus::Ok:
        case RegistryStatus::NotFound:
            // Missing, empty or one character: nothing there worth keeping.
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
    MoveMultiStringValue(registry, kPendingRenamesValue, kPendingRenamesAsideValue);
}

void RestorePendingRenames(Registry& registry) {
    MoveMultiStringValue(registry, kPendingRenamesAsideValue, kPendingRenamesValue);
}

}  // namespace clearon
