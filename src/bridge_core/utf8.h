// UTF-8 read and written scalar by scalar, on utf8proc: the one decoder of the code base.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quenra::UTF8 {

inline constexpr char32_t replacementCharacter = 0xFFFD;

// One scalar of a text: where it starts, how many bytes it takes, and whether those bytes are a
// well-formed sequence. A byte that starts none reads as U+FFFD taking that one byte.
struct Scalar {
    char32_t value = replacementCharacter;
    std::size_t offset = 0;
    std::size_t length = 1;
    bool wellFormed = false;
};

Scalar at(std::string_view text, std::size_t offset);
std::vector<Scalar> decode(std::string_view text);
bool isValid(std::string_view text);

// Appends the scalar's bytes; a value that is no scalar appends U+FFFD.
void append(std::string& out, char32_t scalar);

}  // namespace quenra::UTF8
