// The system's cryptographically secure generator.
#pragma once

#include <cstdint>
#include <span>

namespace quenra::SecureRandom {

// Fills bytes entirely; false when the generator failed, which no caller can do better than stop
// for: ids and tokens without entropy would be guessable.
bool fill(std::span<std::uint8_t> bytes);

}  // namespace quenra::SecureRandom
