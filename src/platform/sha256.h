// SHA-256 from the system's cryptography library (OpenSSL on Linux, CommonCrypto on macOS).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace quenra::Sha256 {

using Digest = std::array<std::uint8_t, 32>;

// A library that cannot hash ends the process: a wrong digest would be worse than stopping.
Digest of(std::span<const std::uint8_t> data);

}  // namespace quenra::Sha256
