#include "bridge_core/base64.h"

#include <array>

namespace quenra {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t invalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(invalid);
    for (std::uint8_t index = 0; index < 64; ++index) {
        table[static_cast<unsigned char>(alphabet[index])] = index;
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> decodeTable = makeDecodeTable();

}  // namespace

std::string Base64::encode(const std::uint8_t* data, std::size_t size) {
    std::string text;
    text.resize((size + 2) / 3 * 4);
    char* out = text.data();
    std::size_t index = 0;
    for (; index + 3 <= size; index += 3) {
        const std::uint32_t group = (std::uint32_t{data[index]} << 16) |
                                    (std::uint32_t{data[index + 1]} << 8) | data[index + 2];
        *out++ = alphabet[(group >> 18) & 63];
        *out++ = alphabet[(group >> 12) & 63];
        *out++ = alphabet[(group >> 6) & 63];
        *out++ = alphabet[group & 63];
    }
    const std::size_t rest = size - index;
    if (rest > 0) {
        std::uint32_t group = std::uint32_t{data[index]} << 16;
        if (rest == 2) {
            group |= std::uint32_t{data[index + 1]} << 8;
        }
        *out++ = alphabet[(group >> 18) & 63];
        *out++ = alphabet[(group >> 12) & 63];
        *out++ = rest == 2 ? alphabet[(group >> 6) & 63] : '=';
        *out++ = '=';
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> Base64::decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    if (text.empty()) {
        return bytes;
    }
    std::size_t padding = 0;
    if (text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    bytes.resize(text.size() / 4 * 3 - padding);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    std::uint8_t* out = bytes.data();
    const std::size_t fullGroups = text.size() / 4 - (padding > 0 ? 1 : 0);
    for (std::size_t group = 0; group < fullGroups; ++group, in += 4) {
        const std::uint8_t a = decodeTable[in[0]], b = decodeTable[in[1]];
        const std::uint8_t c = decodeTable[in[2]], d = decodeTable[in[3]];
        if ((a | b | c | d) == invalid || ((a | b | c | d) & 0xC0) != 0) {
            return std::nullopt;
        }
        const std::uint32_t value =
            (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6) | d;
        *out++ = static_cast<std::uint8_t>(value >> 16);
        *out++ = static_cast<std::uint8_t>(value >> 8);
        *out++ = static_cast<std::uint8_t>(value);
    }
    if (padding > 0) {
        const std::uint8_t a = decodeTable[in[0]], b = decodeTable[in[1]];
        const std::uint8_t c = padding == 2 ? 0 : decodeTable[in[2]];
        if (((a | b | c) & 0xC0) != 0) {
            return std::nullopt;
        }
        const std::uint32_t value =
            (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) | (std::uint32_t{c} << 6);
        // Canonical form only: the bits that padding stands for must be zero.
        if ((padding == 2 ? (value & 0xFFFF) : (value & 0xFF)) != 0) {
            return std::nullopt;
        }
        *out++ = static_cast<std::uint8_t>(value >> 16);
        if (padding == 1) {
            *out++ = static_cast<std::uint8_t>(value >> 8);
        }
    }
    return bytes;
}

}  // namespace quenra
