#include "bridge_core/base64_payload.h"

#include <utility>

namespace quenra {

Base64Payload::Reader::Reader(std::size_t reserveBytes) {
    bytes_.reserve(reserveBytes);
}

void Base64Payload::Reader::append(std::string_view piece) {
    const std::size_t before = bytes_.size();
    decoder_.append(piece, bytes_);
    // Hashed while the piece's bytes are still in the cache.
    digest_.update(std::span(bytes_).subspan(before));
}

Base64Payload Base64Payload::Reader::finish() && {
    const bool isBase64 = decoder_.keepsToAlphabet();
    const std::size_t before = bytes_.size();
    if (!decoder_.finish(bytes_)) {
        return Base64Payload(decoder_.length(), isBase64, false, {}, {});
    }
    digest_.update(std::span(bytes_).subspan(before));
    return Base64Payload(decoder_.length(), isBase64, true, std::move(bytes_), digest_.final());
}

Base64Payload::Base64Payload() : Base64Payload(std::string_view()) {}

Base64Payload::Base64Payload(std::string_view text) {
    Reader reader(text.size() / 4 * 3);
    reader.append(text);
    *this = std::move(reader).finish();
}

Base64Payload::Base64Payload(std::size_t length, bool isBase64, bool decodes,
                             std::vector<std::uint8_t> bytes, const Hashing::Digest& sha256)
    : length_(length),
      isBase64_(isBase64),
      decodes_(decodes),
      bytes_(std::move(bytes)),
      sha256_(sha256) {}

std::vector<std::uint8_t> Base64Payload::takeBytes() {
    return std::exchange(bytes_, {});
}

}  // namespace quenra
