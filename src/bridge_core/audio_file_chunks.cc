// WAV (RIFF, little-endian) and AIFF (IFF, big-endian): a container header, then chunks that
// tile the rest of the file. The format chunk's fields, the sound chunk's offset and AIFF's
// comments are read; every other chunk is passed over by its size.
//
// The container's own size field must agree with the file. Writers differ only about the pad
// byte of an odd last chunk: sox counts it in a RIFF size but not in a FORM size, wavefile
// neither writes nor counts it. A size past the end is what a writer leaves when it streams
// without knowing the length (sox to a pipe writes 0x7F000000 and more), and such a file
// cannot be told from one that was cut short, so it is refused.
#include <algorithm>
#include <cstring>

#include "bridge_core/audio_file_walkers.h"

namespace quenra::AudioWalk {
namespace {

bool hasId(ByteView bytes, std::size_t offset, std::string_view id) {
    return std::memcmp(bytes.data() + offset, id.data(), 4) == 0;
}

bool hasId(const std::array<std::uint8_t, 4>& bytes, std::string_view id) {
    return std::memcmp(bytes.data(), id.data(), 4) == 0;
}

// The 14 bytes after the two-byte format code in WAVE_FORMAT_EXTENSIBLE's sub-format GUID
// for PCM and IEEE float.
constexpr std::uint8_t formatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr std::uint16_t wavePcm = 1;
constexpr std::uint16_t waveFloat = 3;
constexpr std::uint16_t waveExtensible = 0xFFFE;
constexpr std::uint32_t maxChannels = 32;

}  // namespace

std::uint32_t ChunkList::number32(ByteView bytes, std::size_t offset) const {
    std::uint32_t value = 0;
    for (std::size_t index = 0; index < 4; ++index) {
        const std::size_t at = bigEndian_ ? offset + index : offset + 3 - index;
        value = (value << 8) | bytes[at];
    }
    return value;
}

std::uint16_t ChunkList::number16(ByteView bytes, std::size_t offset) const {
    const std::uint16_t first = bytes[offset];
    const std::uint16_t second = bytes[offset + 1];
    return static_cast<std::uint16_t>(bigEndian_ ? (first << 8) | second : (second << 8) | first);
}

Step ChunkList::chunkHeaderAt(std::uint64_t offset, std::string_view trailingRule) {
    if (offset == length_) {
        return endOfFile();
    }
    if (remainingFrom(offset) < 8) {
        return refuse(trailingRule);
    }
    return readAt(offset, 8);
}

ChunkList::Header ChunkList::header(ByteView piece) const {
    Header header{};
    std::copy_n(piece.begin(), 4, header.id.begin());
    header.size = number32(piece, 4);
    header.bodyAt = cursor_;
    return header;
}

bool ChunkList::hasPrintableId(const Header& header) {
    return std::all_of(header.id.begin(), header.id.end(),
                       [](std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; });
}

std::uint64_t ChunkList::afterChunk(const Header& header) {
    lastEnd_ = header.bodyAt + header.size;
    lastOdd_ = header.size % 2 == 1;
    return lastOdd_ && lastEnd_ < length_ ? lastEnd_ + 1 : lastEnd_;
}

bool ChunkList::containerSizeAgrees(std::uint32_t declared) const {
    const std::uint64_t end = std::uint64_t{declared} + 8;
    return end == length_ || (lastOdd_ && (end == lastEnd_ || end == lastEnd_ + 1));
}

Step Wav::begin() {
    return length_ < 12 ? refuse("wav-not-riff-wave") : readAt(0, 12);
}

Step Wav::next(ByteView piece) {
    switch (reading_) {
        case Reading::container:
            if (!hasId(piece, 0, "RIFF") || !hasId(piece, 8, "WAVE")) {
                return refuse("wav-not-riff-wave");
            }
            declaredSize_ = number32(piece, 4);
            return nextChunk(12);
        case Reading::chunkHeader:
            return chunk(header(piece));
        case Reading::format:
            return format(piece);
    }
    return refuse("wav-not-riff-wave");
}

Step Wav::nextChunk(std::uint64_t offset) {
    reading_ = Reading::chunkHeader;
    return chunkHeaderAt(offset, "wav-trailing-bytes");
}

Step Wav::chunk(const Header& header) {
    if (const auto rule = brokenHeaderRule(header, "wav-chunk-id", "wav-chunk-past-end");
        !rule.empty()) {
        return refuse(rule);
    }
    const std::uint64_t after = afterChunk(header);
    if (hasId(header.id, "fmt ")) {
        if (formatSeen_) {
            return refuse("wav-fmt-repeated");
        }
        if (header.size < 16) {
            return refuse("wav-fmt-size");
        }
        formatSeen_ = true;
        reading_ = Reading::format;
        nextChunkAt_ = after;
        return readAt(header.bodyAt, std::min<std::uint32_t>(header.size, 40));
    }
    if (hasId(header.id, "data")) {
        if (!formatSeen_) {
            return refuse("wav-data-before-fmt");
        }
        if (dataSeen_) {
            return refuse("wav-data-repeated");
        }
        dataSeen_ = true;
        if (header.size < blockAlign_) {
            return refuse("wav-no-frames");
        }
        if (header.size % blockAlign_ != 0) {
            return refuse("wav-partial-frame");
        }
    }
    return nextChunk(after);
}

Step Wav::format(ByteView body) {
    const std::uint16_t code = number16(body, 0);
    const std::uint32_t channels = number16(body, 2);
    const std::uint32_t sampleRate = number32(body, 4);
    const std::uint32_t byteRate = number32(body, 8);
    const std::uint32_t blockAlign = number16(body, 12);
    const std::uint32_t bits = number16(body, 14);
    std::uint16_t encoding = code;
    if (code == waveExtensible) {
        if (body.size() < 40 || number16(body, 16) < 22) {
            return refuse("wav-fmt-size");
        }
        if (number16(body, 18) > bits) {
            return refuse("wav-valid-bits");
        }
        if (!std::equal(std::begin(formatGuidTail), std::end(formatGuidTail), body.begin() + 26)) {
            return refuse("wav-compressed");
        }
        encoding = number16(body, 24);
    }
    if (encoding == wavePcm) {
        if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
            return refuse("wav-bits-per-sample");
        }
    } else if (encoding == waveFloat) {
        if (bits != 32 && bits != 64) {
            return refuse("wav-bits-per-sample");
        }
    } else {
        return refuse("wav-compressed");
    }
    if (channels == 0 || channels > maxChannels) {
        return refuse("wav-channels");
    }
    if (sampleRate == 0 || sampleRate > maxSampleRate) {
        return refuse("wav-sample-rate");
    }
    if (blockAlign != channels * (bits / 8)) {
        return refuse("wav-block-align");
    }
    if (byteRate != std::uint64_t{sampleRate} * blockAlign) {
        return refuse("wav-byte-rate");
    }
    blockAlign_ = blockAlign;
    return nextChunk(nextChunkAt_);
}

std::string_view Wav::finish() const {
    if (!formatSeen_) {
        return "wav-fmt-missing";
    }
    if (!dataSeen_) {
        return "wav-data-missing";
    }
    if (!containerSizeAgrees(declaredSize_)) {
        return "wav-riff-size";
    }
    return {};
}

Step Aiff::begin() {
    return length_ < 12 ? refuse("aiff-not-form") : readAt(0, 12);
}

Step Aiff::next(ByteView piece) {
    switch (reading_) {
        case Reading::container:
            if (!hasId(piece, 0, "FORM") || !(hasId(piece, 8, "AIFF") || hasId(piece, 8, "AIFC"))) {
                return refuse("aiff-not-form");
            }
            compressed_ = hasId(piece, 8, "AIFC");
            declaredSize_ = number32(piece, 4);
            return nextChunk(12);
        case Reading::chunkHeader:
            return chunk(header(piece));
        case Reading::common:
            return common(piece);
        case Reading::sound:
            return sound(piece);
        case Reading::commentCount:
            commentsLeft_ = number16(piece, 0);
            return nextComment(cursor_);
        case Reading::comment:
            return comment(piece);
    }
    return refuse("aiff-not-form");
}

Step Aiff::nextChunk(std::uint64_t offset) {
    reading_ = Reading::chunkHeader;
    return chunkHeaderAt(offset, "aiff-trailing-bytes");
}

Step Aiff::chunk(const Header& header) {
    if (const auto rule = brokenHeaderRule(header, "aiff-chunk-id", "aiff-chunk-past-end");
        !rule.empty()) {
        return refuse(rule);
    }
    nextChunkAt_ = afterChunk(header);
    if (hasId(header.id, "COMM")) {
        if (commonSeen_) {
            return refuse("aiff-comm-repeated");
        }
        // AIFC adds the four-byte compression type.
        const std::uint32_t size = compressed_ ? 22 : 18;
        if (header.size < size) {
            return refuse("aiff-comm-size");
        }
        commonSeen_ = true;
        reading_ = Reading::common;
        return readAt(header.bodyAt, size);
    }
    if (hasId(header.id, "SSND")) {
        if (soundSeen_) {
            return refuse("aiff-ssnd-repeated");
        }
        if (header.size < 8) {
            return refuse("aiff-ssnd-size");
        }
        soundSeen_ = true;
        soundSize_ = header.size;
        reading_ = Reading::sound;
        return readAt(header.bodyAt, 8);
    }
    if (hasId(header.id, "COMT")) {
        if (header.size < 2) {
            return refuse("aiff-comments");
        }
        commentsEnd_ = header.bodyAt + header.size;
        reading_ = Reading::commentCount;
        return readAt(header.bodyAt, 2);
    }
    return nextChunk(nextChunkAt_);
}

// COMT holds a count of comments, each a time stamp, a marker id, and a counted text padded to
// an even length; readers walk them, so they must stay inside the chunk.
Step Aiff::nextComment(std::uint64_t offset) {
    if (commentsLeft_ == 0) {
        return nextChunk(nextChunkAt_);
    }
    if (commentsEnd_ - offset < 8) {
        return refuse("aiff-comments");
    }
    reading_ = Reading::comment;
    return readAt(offset, 8);
}

Step Aiff::comment(ByteView header) {
    const std::uint32_t textBytes = number16(header, 6);
    if (textBytes > commentsEnd_ - cursor_) {
        return refuse("aiff-comments");
    }
    --commentsLeft_;
    std::uint64_t end = cursor_ + textBytes;
    if (textBytes % 2 == 1 && end < commentsEnd_) {
        ++end;
    }
    return nextComment(end);
}

// Whether the 80-bit extended number at offset is a sample rate of 1 Hz up to maxSampleRate:
// positive, normalized, with an exponent that keeps it below 2^20.
bool Aiff::isSaneRate(ByteView body, std::size_t offset) const {
    const std::uint16_t signAndExponent = number16(body, offset);
    const bool normalized = (body[offset + 2] & 0x80) != 0;
    const int exponent = static_cast<int>(signAndExponent) - 16383;
    static_assert(maxSampleRate == (1u << 20) - 1);
    return signAndExponent < 0x8000 && normalized && exponent >= 0 && exponent < 20;
}

Step Aiff::common(ByteView body) {
    const std::uint32_t channels = number16(body, 0);
    const std::uint32_t frames = number32(body, 2);
    const std::uint32_t bits = number16(body, 6);
    std::uint32_t sampleBytes = (bits + 7) / 8;
    bool bitsFit = bits >= 1 && bits <= 32;
    if (compressed_) {
        // Both spellings of the float types are in use: Apple's and libsndfile's.
        if (hasId(body, 18, "fl32") || hasId(body, 18, "FL32")) {
            bitsFit = bits == 32;
        } else if (hasId(body, 18, "fl64") || hasId(body, 18, "FL64")) {
            bitsFit = bits == 64;
            sampleBytes = 8;
        } else if (!hasId(body, 18, "NONE") && !hasId(body, 18, "sowt")) {
            return refuse("aiff-compression");
        }
    }
    if (channels == 0 || channels > maxChannels) {
        return refuse("aiff-channels");
    }
    if (!bitsFit) {
        return refuse("aiff-sample-size");
    }
    if (!isSaneRate(body, 8)) {
        return refuse("aiff-sample-rate");
    }
    if (frames == 0) {
        return refuse("aiff-no-frames");
    }
    frameBytes_ = std::uint64_t{frames} * channels * sampleBytes;
    return nextChunk(nextChunkAt_);
}

Step Aiff::sound(ByteView body) {
    const std::uint32_t offset = number32(body, 0);
    if (offset > soundSize_ - 8) {
        return refuse("aiff-ssnd-offset");
    }
    soundBytes_ = soundSize_ - 8 - offset;
    return nextChunk(nextChunkAt_);
}

std::string_view Aiff::finish() const {
    if (!commonSeen_) {
        return "aiff-comm-missing";
    }
    if (!soundSeen_) {
        return "aiff-ssnd-missing";
    }
    if (soundBytes_ < frameBytes_) {
        return "aiff-ssnd-short";
    }
    if (!containerSizeAgrees(declaredSize_)) {
        return "aiff-form-size";
    }
    return {};
}

}  // namespace quenra::AudioWalk
