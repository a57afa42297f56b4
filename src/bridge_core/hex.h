// Bytes as hexadecimal digits, the one encoder of the code base: ids, digests, URL escapes,
// JSON escapes and UUIDs all spell their bytes through it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quenra::Hex {

enum class Case { lower, upper };

// The byte's two digits, most significant first, appended to out.
void appendByte(std::string& out, std::uint8_t byte, Case letters = Case::lower);

// Every byte as two digits: 2 * size characters.
std::string of(std::span<const std::uint8_t> bytes, Case letters = Case::lower);

// Exactly count characters, each 0-9 or a-f.
bool isLower(std::string_view text, std::size_t count);

}  // namespace quenra::Hex
