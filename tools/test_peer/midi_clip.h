// Standard MIDI Files made up for the host to check and store: a format 0 file with one track
// of notes walking up a C major scale, of exactly the size asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quenra::TestPeer::MidiClip {

inline constexpr std::size_t smallestSize = 40;

// A valid file of exactly size bytes (at least smallestSize): header, one track whose events
// are note-on/note-off pairs at 480 ticks per quarter, then End of Track. first picks the
// starting note, so two clips of one size can differ.
std::vector<std::uint8_t> generate(std::size_t size, std::uint8_t first = 0);

}  // namespace quenra::TestPeer::MidiClip
