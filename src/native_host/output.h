// The host's standard output: protocol frames only, each handed to the system at once and in
// full. With SIGPIPE ignored, a reader that went away shows up as a false result.
#pragma once

#include <cstdint>
#include <span>

namespace quenra::Output {

// Writes every byte to descriptor 1, retrying EINTR and short writes. False when the output
// is broken (EPIPE, or any other write error); true at once for an empty buffer.
bool write(std::span<const std::uint8_t> bytes);

// The same on any descriptor, for the tests and the tools.
bool writeAll(int descriptor, std::span<const std::uint8_t> bytes);

}  // namespace quenra::Output
