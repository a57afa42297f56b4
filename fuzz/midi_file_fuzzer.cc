// The MIDI check never reads out of bounds whatever the chunk lengths say, and it agrees with
// what the layout implies: a valid file stays valid with a whole unknown chunk appended, and
// becomes invalid when cut short by one byte or when its limit is one byte too small.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bridge_core/midi_file.h"
#include "support/fuzz_checks.h"

using quenra::FuzzChecks::require;
namespace MIDIFile = quenra::MIDIFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A private copy sized exactly, so the sanitizer sees any read past the end.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto count = static_cast<std::int64_t>(size);
    const bool valid = MIDIFile::isValid(bytes, count);
    require(MIDIFile::isValid(bytes, INT64_MAX) == valid, "the limit only bounds the size");
    if (!valid) {
        return 0;
    }
    require(size >= 14 + 8 + 3, "a valid file has a header and a track");
    require(!MIDIFile::isValid(bytes, count - 1), "one byte over the limit is refused");

    const std::vector<std::uint8_t> shorter(bytes.begin(), bytes.end() - 1);
    require(!MIDIFile::isValid(shorter, count), "a file cut by one byte is refused");

    std::vector<std::uint8_t> longer = bytes;
    const std::uint8_t unknownChunk[] = {'X', 'F', 'I', 'L', 0, 0, 0, 0};
    longer.insert(longer.end(), std::begin(unknownChunk), std::end(unknownChunk));
    require(MIDIFile::isValid(longer, count + 8), "an unknown empty chunk is skipped");
    longer.push_back(0);
    require(!MIDIFile::isValid(longer, count + 9), "a stray byte after the chunks is refused");
    return 0;
}
