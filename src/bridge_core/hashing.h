// SHA-256 in the form used on the wire and in cache records.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/sha256.h"

namespace quenra::Hashing {

using Digest = Sha256::Digest;

Digest sha256(std::span<const std::uint8_t> data);

// 64 lowercase hexadecimal digits, most significant nibble first.
std::string sha256Hex(std::span<const std::uint8_t> data);

// The digest as 64 lowercase hexadecimal digits.
std::string hex(const Digest& digest);

// SHA-256 of data that arrives in pieces: the same digest as sha256 of the pieces joined.
using IncrementalSHA256 = Sha256::Incremental;

}  // namespace quenra::Hashing
