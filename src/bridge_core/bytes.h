// Byte sequences as the code base passes them: owned in a buffer, or borrowed in a view.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quenra {

using ByteBuffer = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline ByteView bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace quenra
