// SHA-256 through CommonCrypto, fed in pieces: its length type is 32 bits wide.
#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/sha256.h"

namespace quenra {

Sha256::Digest Sha256::of(std::span<const std::uint8_t> data) {
    static_assert(CC_SHA256_DIGEST_LENGTH == std::tuple_size_v<Digest>);
    constexpr std::size_t piece = std::size_t{1} << 30;
    CC_SHA256_CTX context;
    // The calls report failure only for a broken library; a wrong digest would be worse than
    // stopping.
    if (CC_SHA256_Init(&context) != 1) {
        std::abort();
    }
    for (std::size_t offset = 0; offset < data.size(); offset += piece) {
        const std::size_t length = std::min(piece, data.size() - offset);
        if (CC_SHA256_Update(&context, data.data() + offset, static_cast<CC_LONG>(length)) != 1) {
            std::abort();
        }
    }
    Digest digest{};
    if (CC_SHA256_Final(digest.data(), &context) != 1) {
        std::abort();
    }
    return digest;
}

}  // namespace quenra
