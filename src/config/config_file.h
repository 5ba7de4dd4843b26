// Decoding and validation of Clearon.ini from its raw bytes.
//
// The loader on Windows (config_loader.h) reads the file and hands the bytes
// here; everything that decides what the bytes mean lives in this file so
// that it runs under the sanitizers and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace clearon {

// Capacity of ConfigText in characters, terminator included, and the largest
// file that is accepted, in bytes.
inline constexpr std::size_t kConfigCapacity = 65535;
inline constexpr std::size_t kMaxConfigFileBytes = 65535;

// Exit codes of the configuration file checks.
inline constexpr int kExitConfigMissing = 2;
inline constexpr int kExitConfigBadFormat = 13;
inline constexpr int kExitConfigReadFailed = 30;
inline constexpr int kExitConfigBlank = 38;
inline constexpr int kExitConfigOpenFailed = 110;
inline constexpr int kExitConfigTooLarge = 223;

inline constexpr std::wstring_view kConfigFileName = L"Clearon.ini";
inline constexpr std::wstring_view kMsgConfigMissing = L"The Clearon.ini file is missing.";
inline constexpr std::wstring_view kMsgConfigBadFormat =
    L"The Clearon.ini file is not in the correct format or is not a valid config file.";
inline constexpr std::wstring_view kMsgConfigReadFailed =
    L"The Clearon.ini file could not be read.";
inline constexpr std::wstring_view kMsgConfigBlank = L"The Clearon.ini file is blank.";
inline constexpr std::wstring_view kMsgConfigOpenFailed =
    L"The Clearon.ini file could not be opened.";
inline constexpr std::wstring_view kMsgConfigTooLarge = L"The Clearon.ini file is too large.";

// The message reported for one of the exit codes above (empty for others).
[[nodiscard]] std::wstring_view ConfigErrorMessage(int exitCode) noexcept;

// The size test made before anything is read: 0 when a file of `size` bytes
// may be read, else kExitConfigTooLarge or kExitConfigBlank.
[[nodiscard]] int CheckConfigFileSize(std::uint64_t size) noexcept;

// A Clearon configuration names both sections (anywhere, any case) and does
// not start with 0xFFEF, the sign-extended first byte of a UTF-8 byte-order
// mark.
[[nodiscard]] bool IsValidConfigText(std::wstring_view text) noexcept;

// First decoding: the bytes as UTF-16LE up to the first character 0. An odd
// last byte is paired with the zero that follows it in the read buffer.
[[nodiscard]] std::wstring DecodeUtf16Le(std::span<const std::uint8_t> bytes);

// Second decoding: each byte widened by sign extension (0x80..0xFF become
// U+FF80..U+FFFF), up to the first byte 0.
[[nodiscard]] std::wstring DecodeSignExtended(std::span<const std::uint8_t> bytes);

// Chooses the decoding and validates it. Returns 0 and fills `configText`,
// kExitConfigBadFormat, or kExitConfigTooLarge (below). `secondRead` stands for the loader's second
// reading of the file; when it is null (the second read failed) the second decoding is empty and
// the result is kExitConfigBadFormat.
//
// A single-byte file of exactly 65,535 bytes with no byte 0 decodes to one
// character more than ConfigText can hold; it is refused with
// kExitConfigTooLarge rather than cut, since a cut file could lose the end of
// a product name or command.
[[nodiscard]] int DecodeConfigBytes(std::span<const std::uint8_t> firstRead,
                                    const std::span<const std::uint8_t>* secondRead,
                                    std::wstring& configText);

}  // namespace clearon
