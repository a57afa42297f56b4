// The structural check of a Standard MIDI File: the header, and the chunk list tiling the data
// exactly, each track ending in End of Track. Events inside a track are not parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quenra::MIDIFile {

// One pass over the chunk headers; lengths are compared as 64-bit numbers, so no hostile
// chunk length can overflow the position.
bool isValid(std::span<const std::uint8_t> data, std::int64_t maxBytes);

// The four bytes at offset as a big-endian unsigned number; offset + 4 must be in bounds.
std::uint32_t bigEndian32(std::span<const std::uint8_t> data, std::size_t offset);

}  // namespace quenra::MIDIFile
