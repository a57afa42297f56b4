#include "bridge_core/base64.h"

#include <array>
#include <bit>
#include <cstring>

namespace quenra {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Decoded values beyond the alphabet's 0 to 63.
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

// For each of a group's four places, every character's contribution to the group's three
// bytes, laid out as those bytes lie in memory when the word is stored: OR-ing the four gives
// the group's bytes in one store. A character outside the alphabet ("=" included) sets a bit
// of the fourth byte instead, which no character of the alphabet touches.
using GroupTable = std::array<std::uint32_t, 256>;
constexpr std::uint32_t outsideAlphabet = std::uint32_t{1}
                                          << (std::endian::native == std::endian::little ? 24 : 0);

constexpr std::array<GroupTable, 4> makeGroupTables() {
    static_assert(std::endian::native == std::endian::little ||
                  std::endian::native == std::endian::big);
    std::array<GroupTable, 4> tables{};
    for (std::size_t place = 0; place < 4; ++place) {
        for (std::size_t character = 0; character < 256; ++character) {
            const std::uint8_t value = decodeTable[character];
            if (value >= 64) {
                tables[place][character] = outsideAlphabet;
                continue;
            }
            // The value's six bits at their place in the group's 24, most significant first.
            const std::uint32_t bits = std::uint32_t{value} << (18 - 6 * place);
            std::uint32_t word = 0;
            for (std::size_t byte = 0; byte < 3; ++byte) {
                const std::uint32_t part = (bits >> (16 - 8 * byte)) & 0xFF;
                word |=
                    part << (std::endian::native == std::endian::little ? 8 * byte : 24 - 8 * byte);
            }
            tables[place][character] = word;
        }
    }
    return tables;
}

constexpr std::array<GroupTable, 4> groupTables = makeGroupTables();

std::uint32_t groupWord(const unsigned char* in) {
    return groupTables[0][in[0]] | groupTables[1][in[1]] | groupTables[2][in[2]] |
           groupTables[3][in[3]];
}

// Decodes whole groups of four from in up to the first that is not four characters of the
// alphabet, or up to end; returns where it stopped and advances out past what it wrote.
const unsigned char* decodeGroups(const unsigned char* in, const unsigned char* const end,
                                  std::uint8_t*& out) {
    // Each group is stored as a whole word, one byte beyond its three, while another whole
    // group follows in the piece: the caller's room includes that group's bytes, and the
    // next store overwrites the extra one.
    for (; end - in >= 8; in += 4, out += 3) {
        const std::uint32_t word = groupWord(in);
        if ((word & outsideAlphabet) != 0) {
            return in;
        }
        std::memcpy(out, &word, 4);
    }
    if (end - in >= 4) {
        const std::uint32_t word = groupWord(in);
        if ((word & outsideAlphabet) != 0) {
            return in;
        }
        std::memcpy(out, &word, 3);
        in += 4;
        out += 3;
    }
    return in;
}

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
    std::vector<std::uint8_t> bytes(decoder.mostBytesFor(text.size()));
    const std::size_t size = decoder.append(text, bytes.data());
    // A padded last group was held back, so its bytes fit in the room it was given.
    const std::optional<std::size_t> last = decoder.finish(bytes.data() + size);
    if (!last) {
        return std::nullopt;
    }
    bytes.resize(size + *last);
    return bytes;
}

std::size_t Base64::Decoder::append(std::string_view piece, std::uint8_t* out) {
    length_ += piece.size();
    // Nothing after such a character or run of "=" can make the text decode: only its length
    // still counts.
    if (!keepsToAlphabet()) {
        return 0;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(piece.data());
    const auto* const end = in + piece.size();
    std::uint8_t* written = out;
    while (in < end) {
        // Whole groups straight from the text, as long as no group is half collected and no
        // "=" has been seen; the first group that holds anything else goes the slow way.
        if (grouped_ == 0 && padding_ == 0) {
            in = decodeGroups(in, end, written);
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
    return static_cast<std::size_t>(written - out);
}

std::optional<std::size_t> Base64::Decoder::finish(std::uint8_t* out) {
    if (!keepsToAlphabet() || length_ % 4 != 0) {
        return std::nullopt;
    }
    if (padding_ == 0) {
        return 0;
    }
    // The whole text is groups and the "=" are its last characters, so they are all in the
    // last group, which is still in group_: two or three values and the padding.
    const std::uint32_t bits = (std::uint32_t{group_[0]} << 18) | (std::uint32_t{group_[1]} << 12) |
                               (padding_ == 1 ? std::uint32_t{group_[2]} << 6 : 0);
    // Canonical form only: the bits that padding stands for must be zero.
    if ((padding_ == 2 ? (bits & 0xFFFF) : (bits & 0xFF)) != 0) {
        return std::nullopt;
    }
    out[0] = static_cast<std::uint8_t>(bits >> 16);
    if (padding_ == 1) {
        out[1] = static_cast<std::uint8_t>(bits >> 8);
    }
    return 3 - padding_;
}

}  // namespace quenra
