#include "setup_core/uuid.h"

#include <array>
#include <cstdint>
#include <cstdlib>

#include "bridge_core/hex.h"
#include "platform/secure_random.h"

namespace quenra {

std::string UUID::random() {
    std::array<std::uint8_t, 16> bytes{};
    if (!SecureRandom::fill(bytes)) {
        std::abort();
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
    std::string text = Hex::of(bytes, Hex::Case::upper);
    for (const std::size_t hyphen : {8, 13, 18, 23}) {
        text.insert(hyphen, 1, '-');
    }
    return text;
}

}  // namespace quenra
