// SHA-256 through CommonCrypto, fed in pieces: its length type is 32 bits wide.
#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/sha256.h"

namespace quenra {

// The calls report failure only for a broken library, and a piece after the end would go
// unnoticed by CommonCrypto; both stop the process, as a wrong digest would be worse.
struct Sha256::Incremental::State {
    CC_SHA256_CTX context;
    bool ended = false;
};

void Sha256::Incremental::Free::operator()(State* state) const {
    delete state;
}

Sha256::Incremental::Incremental() : state_(new State) {
    if (CC_SHA256_Init(&state_->context) != 1) {
        std::abort();
    }
}

void Sha256::Incremental::update(std::span<const std::uint8_t> piece) {
    if (state_->ended) {
        std::abort();
    }
    constexpr std::size_t largestCall = std::size_t{1} << 30;
    for (std::size_t offset = 0; offset < piece.size(); offset += largestCall) {
        const std::size_t length = std::min(largestCall, piece.size() - offset);
        if (CC_SHA256_Update(&state_->context, piece.data() + offset,
                             static_cast<CC_LONG>(length)) != 1) {
            std::abort();
        }
    }
}

Sha256::Digest Sha256::Incremental::final() {
    static_assert(CC_SHA256_DIGEST_LENGTH == std::tuple_size_v<Digest>);
    if (state_->ended) {
        std::abort();
    }
    Digest digest{};
    if (CC_SHA256_Final(digest.data(), &state_->context) != 1) {
        std::abort();
    }
    state_->ended = true;
    return digest;
}

}  // namespace quenra
