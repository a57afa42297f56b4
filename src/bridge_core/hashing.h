// SHA-256 in the form used on the wire and in cache records. Declared here, defined by the
// platform layer (OpenSSL on Linux, CommonCrypto on macOS).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace quenra::Hashing {

using Digest = std::array<std::uint8_t, 32>;

Digest sha256(std::span<const std::uint8_t> data);

// 64 lowercase hexadecimal digits, most significant nibble first.
std::string sha256Hex(std::span<const std::uint8_t> data);

// The digest as 64 lowercase hexadecimal digits.
std::string hex(const Digest& digest);

}  // namespace quenra::Hashing
