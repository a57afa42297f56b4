// The single diagnostic line writer of both programs.
#pragma once

#include <cstddef>
#include <string_view>

namespace quenra::Log {

// The longest line written, its line feed included; a longer message is cut to fit.
inline constexpr std::size_t maxLineBytes = 512;

// One line on standard error, "quenra-native-host: " + message + "\n", in one write(2). The line
// is put together on the stack, so it can be written when memory has run out; a message too
// long for maxLineBytes is cut at a character boundary. A line that cannot be written is lost;
// nothing is retried or reported.
void note(std::string_view message) noexcept;

}  // namespace quenra::Log
