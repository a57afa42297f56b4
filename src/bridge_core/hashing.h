// SHA-256 in the form used on the wire and in cache records.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/sha256.h"

namespace quenra::Hashing {

Sha256::Digest sha256(std::span<const std::uint8_t> data);

// 64 lowercase hexadecimal digits, most significant nibble first.
std::string sha256Hex(std::span<const std::uint8_t> data);

// The digest as 64 lowercase hexadecimal digits.
std::string hex(const Sha256::Digest& digest);

}  // namespace quenra::Hashing
