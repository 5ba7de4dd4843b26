#include "platform/registry.h"

namespace clearon {

std::wstring DecodeRegistryString(const RegistryValue& value) {
    if (value.type != kRegSz && value.type != kRegExpandSz && value.type != kRegMultiSz) return {};
    const std::size_t units = value.data.size() / 2;
    const std::size_t limit = units < kRegistryStringBytes / 2 ? units : kRegistryStringBytes / 2;
    std::wstring text;
    for (std::size_t i = 0; i < limit; ++i) {
        const auto unit = static_cast<wchar_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
        if (unit == L'\0') return text;
        text.push_back(unit);
    }
    // No terminator among the data: the string is only complete when it ended
    // exactly with the data and still leaves room for our own terminator.
    if (units == limit && text.size() < kRegistryStringBytes / 2) return text;
    return {};
}

std::wstring ReadRegistryString(Registry& registry, RegistryRoot root, std::wstring_view key,
                                std::wstring_view value) {
    RegistryValue result;
    if (registry.QueryValue(root, key, value, kRegistryStringBytes, result) != RegistryStatus::Ok) {
        return {};
    }
    return DecodeRegistryString(result);
}

RegistryString ReadRegistryStringChecked(Registry& registry, RegistryRoot root,
                                         std::wstring_view key, std::wstring_view value) {
    RegistryValue result;
    const RegistryStatus status =
        registry.QueryValue(root, key, value, kRegistryStringBytes, result);
    if (status == RegistryStatus::MoreData) return {{}, true};
    if (status != RegistryStatus::Ok) return {};
    RegistryString read{DecodeRegistryString(result), false};
    if (read.text.empty() && result.data.size() >= 2 &&
        (result.type == kRegSz || result.type == kRegExpandSz || result.type == kRegMultiSz)) {
        // Empty although it does not start with a terminator: no terminator
        // within the buffer.
        read.tooLong = (result.data[0] | result.data[1]) != 0;
    }
    return read;
}

std::vector<std::uint8_t> EncodeRegistryDword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> EncodeRegistryString(std::wstring_view text) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

}  // namespace clearon
