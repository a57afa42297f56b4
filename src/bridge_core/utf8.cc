#include "bridge_core/utf8.h"

#include <utf8proc.h>

namespace quenra {

UTF8::Scalar UTF8::at(std::string_view text, std::size_t offset) {
    utf8proc_int32_t value = 0;
    const utf8proc_ssize_t length =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset),
                         static_cast<utf8proc_ssize_t>(text.size() - offset), &value);
    if (length <= 0) {
        return Scalar{replacementCharacter, offset, 1, false};
    }
    return Scalar{static_cast<char32_t>(value), offset, static_cast<std::size_t>(length), true};
}

std::vector<UTF8::Scalar> UTF8::decode(std::string_view text) {
    std::vector<Scalar> scalars;
    scalars.reserve(text.size());
    for (std::size_t offset = 0; offset < text.size();) {
        scalars.push_back(at(text, offset));
        offset += scalars.back().length;
    }
    return scalars;
}

bool UTF8::isValid(std::string_view text) {
    for (std::size_t offset = 0; offset < text.size();) {
        const Scalar scalar = at(text, offset);
        if (!scalar.wellFormed) {
            return false;
        }
        offset += scalar.length;
    }
    return true;
}

void UTF8::append(std::string& out, char32_t scalar) {
    if (utf8proc_codepoint_valid(static_cast<utf8proc_int32_t>(scalar)) == 0) {
        scalar = replacementCharacter;
    }
    utf8proc_uint8_t buffer[4];
    const utf8proc_ssize_t length =
        utf8proc_encode_char(static_cast<utf8proc_int32_t>(scalar), buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

}  // namespace quenra
