#include "bridge_core/hashing.h"

namespace quenra {

std::string Hashing::hex(const Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(digest.size() * 2, '0');
    for (std::size_t index = 0; index < digest.size(); ++index) {
        text[2 * index] = digits[digest[index] >> 4];
        text[2 * index + 1] = digits[digest[index] & 0x0F];
    }
    return text;
}

std::string Hashing::sha256Hex(std::span<const std::uint8_t> data) {
    return hex(sha256(data));
}

}  // namespace quenra
