// The registry operations Clearon needs, behind a small interface so that
// the logic above them (discovery, pending renames, the reboot decision) can
// be driven by an in-memory stand-in in host tests, faults included. The
// Windows implementation (windows_registry.h) opens a key for each single
// operation and closes it at once: no registry handle is ever held while a
// child process runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clearon {

enum class RegistryRoot { LocalMachine, CurrentUser };

enum class RegistryStatus {
    Ok,        // done; for a query, `data` holds the returned bytes
    MoreData,  // the value is larger than the capacity given (ERROR_MORE_DATA)
    NotFound,  // the key or the value does not exist
    Failed,    // any other failure (access denied, ...)
};

// Registry value types as Windows numbers them.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

struct RegistryValue {
    std::uint32_t type = kRegNone;
    std::vector<std::uint8_t> data;
};

enum class KeyLifetime { Persistent, Volatile };

// Outcome of one step of a subkey enumeration.
struct SubkeyStep {
    enum class Kind { RootFailed, EnumFailed, Ok } kind = Kind::EnumFailed;
    std::wstring name;
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens `key`, queries `value` with a buffer of `capacityBytes`, closes
    // the key.
    [[nodiscard]] virtual RegistryStatus QueryValue(RegistryRoot root, std::wstring_view key,
                                                    std::wstring_view value,
                                                    std::size_t capacityBytes,
                                                    RegistryValue& result) = 0;
    // Opens `key` and closes it again: does it (still) exist?
    [[nodiscard]] virtual bool KeyExists(RegistryRoot root, std::wstring_view key) = 0;
    // Opens `key` for reading and reads its number of subkeys; nothing when
    // the key does not open. An unreadable count reads as 0.
    [[nodiscard]] virtual std::optional<std::uint32_t> SubkeyCount(RegistryRoot root,
                                                                   std::wstring_view key) = 0;
    // Opens `key` and reads how many values it holds; nothing when that is
    // not known (the key does not open, or this registry cannot tell). Lets
    // a reader skip a row of reads that could only come back empty.
    [[nodiscard]] virtual std::optional<std::uint32_t> ValueCount(RegistryRoot /*root*/,
                                                                  std::wstring_view /*key*/) {
        return std::nullopt;
    }
    // Opens `key`, reads the name of subkey `index` (at most
    // `capacityChars` - 1 characters), closes `key`.
    [[nodiscard]] virtual SubkeyStep EnumerateSubkey(RegistryRoot root, std::wstring_view key,
                                                     std::uint32_t index,
                                                     std::size_t capacityChars) = 0;
    // Opens the existing `key` and writes the value.
    [[nodiscard]] virtual RegistryStatus SetValue(RegistryRoot root, std::wstring_view key,
                                                  std::wstring_view value, std::uint32_t type,
                                                  const std::vector<std::uint8_t>& data) = 0;
    // Opens the existing `key` and deletes the value.
    [[nodiscard]] virtual RegistryStatus DeleteValue(RegistryRoot root, std::wstring_view key,
                                                     std::wstring_view value) = 0;
    // Opens `parentKey` and creates (or opens, whatever kind it is) the
    // subkey `name` below it. A volatile key lives in memory only and is gone
    // after the next restart; Windows refuses an ordinary key below one.
    [[nodiscard]] virtual RegistryStatus CreateSubkey(RegistryRoot root,
                                                      std::wstring_view parentKey,
                                                      std::wstring_view name,
                                                      KeyLifetime lifetime) = 0;
    // Writes what was changed in `key` to disk before returning
    // (RegFlushKey). Windows writes registry changes lazily and not
    // necessarily in the order they were made, so a power loss could keep a
    // later write and lose an earlier one; a flush between two writes whose
    // order matters keeps it. A stand-in that keeps nothing on disk has
    // nothing to do.
    virtual void Flush(RegistryRoot /*root*/, std::wstring_view /*key*/) {}
};

// Every string value is read into a 510-byte (255-character) buffer.
inline constexpr std::size_t kRegistryStringBytes = 510;

// Turns what a query returned into text without trusting it to be
// terminated: the text ends at the first NUL within the returned bytes. A
// value without a NUL in its first 254 characters does not fit the
// 255-character buffer and reads as empty, like any value longer than the
// buffer; a value of a non-string type (a DWORD, binary data) reads as
// empty, since its bytes are no text.
[[nodiscard]] std::wstring DecodeRegistryString(const RegistryValue& value);

// Reads a string value the way every Clearon read does: key opened and closed
// for this one read, 510-byte buffer, missing/too long/wrong type => empty.
[[nodiscard]] std::wstring ReadRegistryString(Registry& registry, RegistryRoot root,
                                              std::wstring_view key, std::wstring_view value);

// ReadRegistryString, telling a string value too long for the 510-byte
// buffer (which reads as empty) from a missing or empty one: a caller that
// skips a product because its command reads empty must be able to say why.
struct RegistryString {
    std::wstring text;
    bool tooLong = false;
};
[[nodiscard]] RegistryString ReadRegistryStringChecked(Registry& registry, RegistryRoot root,
                                                       std::wstring_view key,
                                                       std::wstring_view value);

// UTF-16LE bytes of `text` followed by its terminating NUL, as REG_SZ wants.
[[nodiscard]] std::vector<std::uint8_t> EncodeRegistryString(std::wstring_view text);
// The four little-endian bytes of a REG_DWORD.
[[nodiscard]] std::vector<std::uint8_t> EncodeRegistryDword(std::uint32_t value);

}  // namespace clearon
