// The audio fuzz targets' shared oracle, one target per format. Whatever the bytes, the check
// reads nothing out of bounds, takes no memory while it walks, and gives the same verdict
// however the bytes are split; a refusal names a rule of the format; and an accepted file stops
// being accepted when it is cut short or has a byte too many.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bridge_core/audio_file.h"
#include "support/fuzz_checks.h"
#include "support/held_memory.h"

namespace quenra::AudioFuzz {

using FuzzChecks::require;

// The verdict with the bytes fed in pieces of the sizes given in turn, over and over.
inline AudioVerdict fedInPieces(AudioFormat format, const std::vector<std::uint8_t>& bytes,
                                const std::vector<std::size_t>& sizes) {
    AudioFileCheck check(format, bytes.size());
    std::size_t offset = 0;
    for (std::size_t turn = 0; offset < bytes.size(); ++turn) {
        const std::size_t piece = std::min(sizes[turn % sizes.size()], bytes.size() - offset);
        check.feed(ByteView(bytes).subspan(offset, piece));
        offset += piece;
    }
    return check.finish();
}

inline AudioVerdict whole(AudioFormat format, const std::vector<std::uint8_t>& bytes) {
    return AudioFile::check(format, bytes);
}

inline int check(AudioFormat format, const std::uint8_t* data, std::size_t size) {
    // A private copy sized exactly, so the sanitizer sees any read past the end.
    const std::vector<std::uint8_t> bytes(data, data + size);

    const std::size_t heldBefore = HeldMemory::restartPeak();
    const AudioVerdict verdict = whole(format, bytes);
    require(HeldMemory::highest() == heldBefore, "the check takes no memory");

    // Fixed splits, and one that the input chooses.
    const std::size_t chosen = size > 0 ? std::size_t{1} + data[size - 1] % 32 : 1;
    const std::vector<std::size_t> splits[] = {{1}, {2, 1, 5}, {7, 64, 3}, {chosen, 13, 1}};
    for (const std::vector<std::size_t>& sizes : splits) {
        require(fedInPieces(format, bytes, sizes).brokenRule == verdict.brokenRule,
                "the verdict does not depend on how the bytes are split");
    }
    if (!verdict.accepted()) {
        const std::string_view prefix = AudioFile::wireName(format);
        require(verdict.brokenRule.substr(0, prefix.size() + 1) == std::string(prefix) + "-",
                "a refusal names a rule of the format");
        return 0;
    }
    std::vector<std::uint8_t> longer = bytes;
    longer.push_back(1);
    if (format == AudioFormat::wav || format == AudioFormat::aiff) {
        // The byte could be the missing pad of an odd last chunk; two cannot.
        longer.push_back(1);
    }
    require(!whole(format, longer).accepted(), "a byte too many is refused");
    // Cut short: a chunk's pad byte may go, so two bytes; and zero bytes keep a FLAC frame's
    // CRC-16 at zero, so with the zeros at the end the last byte before them.
    std::vector<std::uint8_t> shorter = bytes;
    if (format == AudioFormat::flac) {
        while (!shorter.empty() && shorter.back() == 0) {
            shorter.pop_back();
        }
    }
    shorter.resize(shorter.size() -
                   (format == AudioFormat::wav || format == AudioFormat::aiff ? 2 : 1));
    require(!whole(format, shorter).accepted(), "a file cut short is refused");
    return 0;
}

}  // namespace quenra::AudioFuzz
