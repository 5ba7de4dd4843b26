#include "config/config_file.h"

#include "config/config_lines.h"
#include "text/wide_string.h"

#include <utility>

namespace clearon {

namespace {

// Sign extension of the first byte of a UTF-8 byte-order mark (0xEF): a UTF-8
// file with a mark must not pass as single-byte text, because every
// non-ASCII character in it would arrive as two or three meaningless ones.
constexpr wchar_t kSignExtendedUtf8Mark = static_cast<wchar_t>(0xFFEF);

}  // namespace

std::wstring_view ConfigErrorMessage(int exitCode) noexcept {
    switch (exitCode) {
        case kExitConfigMissing:
            return kMsgConfigMissing;
        case kExitConfigBadFormat:
            return kMsgConfigBadFormat;
        case kExitConfigReadFailed:
            return kMsgConfigReadFailed;
        case kExitConfigBlank:
            return kMsgConfigBlank;
        case kExitConfigOpenFailed:
            return kMsgConfigOpenFailed;
        case kExitConfigTooLarge:
            return kMsgConfigTooLarge;
        default:
            return {};
    }
}

int CheckConfigFileSize(std::uint64_t size) noexcept {
    // GetFileSize's failure value 0xFFFFFFFF lands here as a size too and is
    // refused with the same code, so a file whose size cannot be read is
    // never read.
    if (size > kMaxConfigFileBytes) return kExitConfigTooLarge;
    if (size == 0) return kExitConfigBlank;
    return 0;
}

bool IsValidConfigText(std::wstring_view text) noexcept {
    if (!text.empty() && text.front() == kSignExtendedUtf8Mark) return false;
    return ContainsNoCase(text, kSettingsHeader) && ContainsNoCase(text, kProductNamesHeader);
}

std::wstring DecodeUtf16Le(std::span<const std::uint8_t> bytes) {
    std::wstring text;
    text.reserve(bytes.size() / 2 + 1);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        // The read buffer is cleared before the read, so an odd last byte
        // meets a zero high byte.
        const unsigned high = (i + 1 < bytes.size()) ? bytes[i + 1] : 0u;
        const auto unit = static_cast<wchar_t>(bytes[i] | (high << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

std::wstring DecodeSignExtended(std::span<const std::uint8_t> bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (byte == 0) break;
        // A signed char widened to a 16-bit unit: 0x80..0xFF become
        // 0xFF80..0xFFFF. Kept deliberately, since it is what decides that a
        // UTF-8 byte-order mark reads as 0xFFEF and is refused.
        const auto unit = static_cast<wchar_t>(byte < 0x80 ? byte : 0xFF00u + byte);
        text.push_back(unit);
    }
    return text;
}

int DecodeConfigBytes(std::span<const std::uint8_t> firstRead,
                      const std::span<const std::uint8_t>* secondRead, std::wstring& configText) {
    std::wstring text = DecodeUtf16Le(firstRead);
    if (!IsValidConfigText(text)) {
        text = secondRead != nullptr ? DecodeSignExtended(*secondRead) : std::wstring();
        if (!IsValidConfigText(text)) return kExitConfigBadFormat;
    }
    // The text must fit ConfigText with its terminator. Only a single-byte
    // file of the largest accepted size without a byte 0 reaches this.
    if (text.size() >= kConfigCapacity) return kExitConfigTooLarge;
    configText = std::move(text);
    return 0;
}

}  // namespace clearon
