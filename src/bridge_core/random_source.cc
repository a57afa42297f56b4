#include "bridge_core/base64.h"
#include "bridge_core/services.h"

namespace quenra {

std::string RandomSource::hex(std::size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    const std::vector<std::uint8_t> random = bytes(count);
    std::string text;
    text.reserve(random.size() * 2);
    for (const std::uint8_t byte : random) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 15]);
    }
    return text;
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
