// Standard base64 (RFC 4648, section 4): encoding, and a strict decoder that requires padding
// and ignores nothing, for a whole text or for one that arrives in pieces.
#pragma once

#include <array>
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

// Strict decoding of a text that arrives in pieces, cut anywhere: the same verdict and the same
// bytes as decode of the whole text. The bytes of each complete group go out as soon as its
// last character arrives, so a caller can hash them while the text is still arriving; a group
// with padding waits for finish. The caller owns the memory the bytes go to.
class Decoder {
  public:
    // The most bytes that append can write for a piece of pieceSize characters.
    std::size_t mostBytesFor(std::size_t pieceSize) const { return (grouped_ + pieceSize) / 4 * 3; }
    // Writes to out, which has room for mostBytesFor(piece.size()), the bytes of every group
    // that the piece completes, and returns how many it wrote.
    std::size_t append(std::string_view piece, std::uint8_t* out);
    // Ends the text: writes to out, which has room for two, the bytes of a padded last group,
    // and returns how many it wrote; nothing when the whole text was not canonical base64
    // (what was written before is then not a decoding of anything).
    std::optional<std::size_t> finish(std::uint8_t* out);

    // The text's length so far, in bytes.
    std::size_t length() const { return length_; }
    // Whether the text so far keeps to the alphabet with at most two "=" at its end, whatever
    // its length (decoding also needs a whole number of groups and zero padding bits).
    bool keepsToAlphabet() const { return !broken_ && padding_ <= 2; }

  private:
    std::size_t length_ = 0;
    // The values of the characters of the group being collected; "=" counts as 64. A padded
    // group stays here once complete, as it can only be the last.
    std::array<std::uint8_t, 4> group_{};
    std::size_t grouped_ = 0;
    // The run of "=" that ends the text so far.
    std::size_t padding_ = 0;
    // A character outside the alphabet, or a letter after an "=".
    bool broken_ = false;
};

}  // namespace quenra::Base64
