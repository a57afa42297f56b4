#include "test_peer/midi_clip.h"

#include <array>
#include <stdexcept>

namespace quenra::TestPeer::MidiClip {

namespace {

void putBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

}  // namespace

std::vector<std::uint8_t> generate(std::size_t size, std::uint8_t first) {
    if (size < smallestSize || size > 0xFFFFFFFFu) {
        throw std::invalid_argument("MIDI clip size out of range");
    }
    static constexpr std::array<std::uint8_t, 8> scale{60, 62, 64, 65, 67, 69, 71, 72};
    std::vector<std::uint8_t> out;
    out.reserve(size);
    const std::uint8_t header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0};
    out.insert(out.end(), std::begin(header), std::end(header));
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    const auto trackLength = static_cast<std::uint32_t>(size - 22);
    putBigEndian32(out, trackLength);

    // Events of 4 bytes fill the track; the first one's delta time takes 1 to 4 bytes so the
    // total comes out exact, and the last 4 bytes are a zero delta and End of Track.
    std::size_t events = trackLength - 4;
    std::size_t extraDeltaBytes = events % 4;
    std::size_t note = first;
    bool on = true;
    bool firstEvent = true;
    while (out.size() < size - 4) {
        std::uint8_t pitch = scale[note % scale.size()];
        if (firstEvent) {
            for (std::size_t i = 0; i < extraDeltaBytes; ++i)
                out.push_back(0x80);
            firstEvent = false;
        }
        out.push_back(on ? 0x00 : 0x60);
        out.push_back(on ? 0x90 : 0x80);
        out.push_back(pitch);
        out.push_back(on ? 0x64 : 0x00);
        if (!on)
            ++note;
        on = !on;
    }
    out.insert(out.end(), {0x00, 0xFF, 0x2F, 0x00});
    return out;
}

}  // namespace quenra::TestPeer::MidiClip
