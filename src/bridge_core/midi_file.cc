#include "bridge_core/midi_file.h"

#include <algorithm>
#include <cstring>

namespace quenra {
namespace {

std::uint16_t bigEndian16(std::span<const std::uint8_t> data, std::size_t offset) {
    return static_cast<std::uint16_t>((data[offset] << 8) | data[offset + 1]);
}

bool hasType(std::span<const std::uint8_t> data, std::size_t offset, const char (&type)[5]) {
    return std::memcmp(data.data() + offset, type, 4) == 0;
}

}  // namespace

std::uint32_t MIDIFile::bigEndian32(std::span<const std::uint8_t> data, std::size_t offset) {
    return (std::uint32_t{data[offset]} << 24) | (std::uint32_t{data[offset + 1]} << 16) |
           (std::uint32_t{data[offset + 2]} << 8) | std::uint32_t{data[offset + 3]};
}

bool MIDIFile::isValid(std::span<const std::uint8_t> data, std::int64_t maxBytes) {
    const auto count = static_cast<std::int64_t>(data.size());
    if (count < 14 || count > maxBytes) {
        return false;
    }
    const std::uint16_t format = bigEndian16(data, 8);
    const std::uint16_t tracks = bigEndian16(data, 10);
    if (!hasType(data, 0, "MThd") || bigEndian32(data, 4) != 6 || format > 2 || tracks == 0 ||
        (format == 0 && tracks != 1) || bigEndian16(data, 12) == 0) {
        return false;
    }
    std::int64_t position = 14;
    std::int64_t tracksSeen = 0;
    static constexpr std::uint8_t endOfTrack[] = {0xFF, 0x2F, 0x00};
    while (position < count) {
        if (count - position < 8) {
            return false;
        }
        const auto at = static_cast<std::size_t>(position);
        const std::int64_t length = bigEndian32(data, at + 4);
        // Compared against what is left, never added first, so no length can wrap.
        if (length > count - position - 8) {
            return false;
        }
        if (hasType(data, at, "MTrk")) {
            if (length < 3 || !std::equal(std::begin(endOfTrack), std::end(endOfTrack),
                                          data.begin() + at + 8 + (length - 3))) {
                return false;
            }
            ++tracksSeen;
        }
        position += 8 + length;
    }
    return tracksSeen == tracks;
}

}  // namespace quenra
