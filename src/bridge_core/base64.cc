#include "bridge_core/base64.h"

#include <array>

namespace quenra {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Decoded values beyond the alphabet's 0 to 63; both have a bit of 0xC0 set.
constexpr std::uint8_t padding = 64;
constexpr std::uint8_t invalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    table.fill(invalid);
    for (std::uint8_t index = 0; index < 64; ++index) {
        table[static_cast<unsigned char>(alphabet[index])] = index;
    }
    table['='] = padding;
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
    Decoder decoder;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    decoder.append(text, bytes);
    if (!decoder.finish(bytes)) {
        return std::nullopt;
    }
    return bytes;
}

void Base64::Decoder::append(std::string_view piece, std::vector<std::uint8_t>& out) {
    length_ += piece.size();
    // Nothing after such a character or run of "=" can make the text decode: only its length
    // still counts.
    if (!keepsToAlphabet()) {
        return;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(piece.data());
    const auto* const end = in + piece.size();
    // Room for every group the piece can complete, trimmed to what was written at the end.
    const std::size_t start = out.size();
    out.resize(start + (grouped_ + piece.size()) / 4 * 3);
    std::uint8_t* written = out.data() + start;
    while (in < end) {
        // Whole groups straight from the text, as long as no group is half collected and no
        // "=" has been seen; the first group that holds anything else goes the slow way.
        if (grouped_ == 0 && padding_ == 0) {
            for (; end - in >= 4; in += 4) {
                const std::uint8_t a = decodeTable[in[0]], b = decodeTable[in[1]];
                const std::uint8_t c = decodeTable[in[2]], d = decodeTable[in[3]];
                if (((a | b | c | d) & 0xC0) != 0) {
                    break;
                }
                const std::uint32_t value = (std::uint32_t{a} << 18) | (std::uint32_t{b} << 12) |
                                            (std::uint32_t{c} << 6) | d;
                *written++ = static_cast<std::uint8_t>(value >> 16);
                *written++ = static_cast<std::uint8_t>(value >> 8);
                *written++ = static_cast<std::uint8_t>(value);
            }
            if (in == end) {
                break;
            }
        }
        const std::uint8_t value = decodeTable[*in++];
        if (value == invalid || (value != padding && padding_ > 0)) {
            broken_ = true;
            break;
        }
        if (value == padding && ++padding_ > 2) {
            break;
        }
        group_[grouped_++] = value;
        if (grouped_ == 4) {
            grouped_ = 0;
            if (padding_ == 0) {
                const std::uint32_t bits = (std::uint32_t{group_[0]} << 18) |
                                           (std::uint32_t{group_[1]} << 12) |
                                           (std::uint32_t{group_[2]} << 6) | group_[3];
                *written++ = static_cast<std::uint8_t>(bits >> 16);
                *written++ = static_cast<std::uint8_t>(bits >> 8);
                *written++ = static_cast<std::uint8_t>(bits);
            }
        }
    }
    out.resize(static_cast<std::size_t>(written - out.data()));
}

bool Base64::Decoder::finish(std::vector<std::uint8_t>& out) {
    if (!keepsToAlphabet() || length_ % 4 != 0) {
        return false;
    }
    if (padding_ == 0) {
        return true;
    }
    // The whole text is groups and the "=" are its last characters, so they are all in the
    // last group, which is still in group_: two or three values and the padding.
    const std::uint32_t bits = (std::uint32_t{group_[0]} << 18) | (std::uint32_t{group_[1]} << 12) |
                               (padding_ == 1 ? std::uint32_t{group_[2]} << 6 : 0);
    // Canonical form only: the bits that padding stands for must be zero.
    if ((padding_ == 2 ? (bits & 0xFFFF) : (bits & 0xFF)) != 0) {
        return false;
    }
    out.push_back(static_cast<std::uint8_t>(bits >> 16));
    if (padding_ == 1) {
        out.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    return true;
}

}  // namespace quenra
