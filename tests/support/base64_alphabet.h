// The base64 alphabet as the tests and the reader's fuzzer hold the decoders to it, written apart
// from the decoders themselves.
#pragma once

#include <string_view>

namespace quenra::testing {

// Only base64 characters, with at most two "=" at the end.
inline bool isBase64Text(std::string_view text) {
    const std::size_t end = text.find_last_not_of('=') + 1;
    return text.size() - end <= 2 &&
           text.substr(0, end).find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") ==
               std::string_view::npos;
}

}  // namespace quenra::testing
