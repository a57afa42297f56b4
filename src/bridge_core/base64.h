// Standard base64 (RFC 4648, section 4): encoding, and a strict decoder that requires padding
// and ignores nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenra::Base64 {

std::string encode(const std::uint8_t* data, std::size_t size);
inline std::string encode(const std::vector<std::uint8_t>& bytes) {
    return encode(bytes.data(), bytes.size());
}

// Nothing when the text is not canonical base64: a length that is not a multiple of 4, a
// character outside the alphabet, padding anywhere but at the end, or non-zero padding bits.
std::optional<std::vector<std::uint8_t>> decode(std::string_view text);

}  // namespace quenra::Base64
