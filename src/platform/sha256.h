// SHA-256 by Windows' own cryptography (bcrypt.dll): nothing of our own to
// get wrong, and the digest an administrator's sha256sum or Get-FileHash
// gives for the same bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace clearon {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Nothing when Windows could not compute it.
[[nodiscard]] std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace clearon
