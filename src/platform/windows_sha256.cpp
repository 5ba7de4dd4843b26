#include "platform/sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <limits>

#include "platform/handles.h"

namespace clearon {

std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes) noexcept {
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM,
                                                    nullptr,  // Windows' own provider
                                                    0))) {
        return std::nullopt;
    }
    const UniqueAlgorithmProvider algorithm(rawAlgorithm);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), &rawHash, nullptr,
                                         0,           // the provider keeps the hash object
                                         nullptr, 0,  // no secret: a plain hash, no HMAC
                                         0))) {
        return std::nullopt;
    }
    const UniqueHash hash(rawHash);
    // BCryptHashData takes at most 4 GiB a call; Clearon.ini is far smaller,
    // but the loop costs nothing.
    std::span<const std::uint8_t> rest = bytes;
    while (!rest.empty()) {
        const ULONG chunk = static_cast<ULONG>(
            std::min<std::size_t>(rest.size(), std::numeric_limits<ULONG>::max()));
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), const_cast<PUCHAR>(rest.data()), chunk, 0)))
            return std::nullopt;
        rest = rest.subspan(chunk);
    }
    Sha256Digest digest{};
    if (!BCRYPT_SUCCESS(
            BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
        return std::nullopt;
    }
    return digest;
}

}  // namespace clearon
