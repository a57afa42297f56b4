#include "bridge_core/base64.h"
#include "bridge_core/hex.h"
#include "bridge_core/services.h"

namespace quenra {

std::string RandomSource::hex(std::size_t count) {
    return Hex::of(bytes(count));
}

std::string RandomSource::base64URL(std::size_t count) {
    std::string text = Base64::encode(bytes(count));
    std::string url;
    url.reserve(text.size());
    for (const char character : text) {
        if (character == '+') {
            url.push_back('-');
        } else if (character == '/') {
            url.push_back('_');
        } else if (character != '=') {
            url.push_back(character);
        }
    }
    return url;
}

}  // namespace quenra
