#include "bridge_core/hex.h"

#include <algorithm>

namespace quenra {

void Hex::appendByte(std::string& out, std::uint8_t byte, Case letters) {
    const char* digits = letters == Case::lower ? "0123456789abcdef" : "0123456789ABCDEF";
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 15]);
}

std::string Hex::of(std::span<const std::uint8_t> bytes, Case letters) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        appendByte(text, byte, letters);
    }
    return text;
}

bool Hex::isLower(std::string_view text, std::size_t count) {
    return text.size() == count && std::all_of(text.begin(), text.end(), [](char character) {
               return (character >= '0' && character <= '9') ||
                      (character >= 'a' && character <= 'f');
           });
}

}  // namespace quenra
