// The free-space rule of the start-up: Clearon needs room on the system
// drive for the uninstallers and Aegira's installer it runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace clearon {

// 500 MiB: a drive with fewer free bytes available to the caller ends the
// start with kExitNotEnoughDiskSpace; exactly this many passes.
inline constexpr std::uint64_t kMinimumFreeBytes = 500ull * 1024 * 1024;

inline constexpr int kExitNotEnoughDiskSpace = 112;

[[nodiscard]] constexpr bool HasEnoughFreeSpace(std::uint64_t freeBytesAvailable) noexcept {
    return freeBytesAvailable >= kMinimumFreeBytes;
}

enum class FreeSpaceVerdict {
    Enough,     // go on
    TooLittle,  // report kMsgNotEnoughDiskSpace, end with kExitNotEnoughDiskSpace
    Unknown,    // log kLogFreeSpaceUnknown and go on
};

// What the start does with the answer of the free-space query (nothing when
// SystemDrive is unset or the query failed).
[[nodiscard]] constexpr FreeSpaceVerdict JudgeFreeSpace(
    std::optional<std::uint64_t> freeBytesAvailable) noexcept {
    if (!freeBytesAvailable) return FreeSpaceVerdict::Unknown;
    return HasEnoughFreeSpace(*freeBytesAvailable) ? FreeSpaceVerdict::Enough
                                                   : FreeSpaceVerdict::TooLittle;
}

}  // namespace clearon
