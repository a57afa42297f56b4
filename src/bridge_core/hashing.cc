#include "bridge_core/hashing.h"

#include "bridge_core/hex.h"

namespace quenra {

Sha256::Digest Hashing::sha256(std::span<const std::uint8_t> data) {
    return Sha256::of(data);
}

std::string Hashing::hex(const Sha256::Digest& digest) {
    return Hex::of(digest);
}

std::string Hashing::sha256Hex(std::span<const std::uint8_t> data) {
    return hex(sha256(data));
}

}  // namespace quenra
