// Audio files made byte by byte for the tests, fuzz seeds and benchmarks of the audio check:
// WAV and AIFF chunk lists, FLAC metadata and frames (constant subframes, real CRCs), MPEG
// Layer III frames and the tags around them. Each maker writes what it is told, so that a
// test can state a broken field as plainly as a good one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "bridge_core/bytes.h"

namespace quenra::testing::AudioSamples {

inline ByteBuffer little(std::uint64_t value, int count) {
    ByteBuffer bytes;
    for (int index = 0; index < count; ++index) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
    }
    return bytes;
}

inline ByteBuffer big(std::uint64_t value, int count) {
    ByteBuffer bytes;
    for (int index = count - 1; index >= 0; --index) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
    }
    return bytes;
}

inline ByteBuffer text(std::string_view characters) {
    return ByteBuffer(characters.begin(), characters.end());
}

inline ByteBuffer join(std::initializer_list<ByteBuffer> parts) {
    ByteBuffer joined;
    for (const ByteBuffer& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

inline ByteBuffer joinAll(const std::vector<ByteBuffer>& parts) {
    ByteBuffer joined;
    for (const ByteBuffer& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// Bytes that vary, so that no check can pass by reading zeros.
inline ByteBuffer pattern(std::size_t count, std::uint32_t seed = 1) {
    ByteBuffer bytes(count);
    std::uint32_t state = seed;
    for (std::uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

// A RIFF (little-endian) or IFF (big-endian) chunk, with a pad byte after an odd body.
inline ByteBuffer chunk(bool bigEndian, std::string_view id, const ByteBuffer& body,
                        bool pad = true) {
    const auto size = static_cast<std::uint32_t>(body.size());
    ByteBuffer bytes = join({text(id), bigEndian ? big(size, 4) : little(size, 4), body});
    if (pad && size % 2 == 1) {
        bytes.push_back(0);
    }
    return bytes;
}

inline ByteBuffer riffChunk(std::string_view id, const ByteBuffer& body, bool pad = true) {
    return chunk(false, id, body, pad);
}

inline ByteBuffer iffChunk(std::string_view id, const ByteBuffer& body, bool pad = true) {
    return chunk(true, id, body, pad);
}

// "RIFF" or "FORM", its size field counting the form type and every chunk byte given.
inline ByteBuffer container(bool bigEndian, std::string_view form,
                            const std::vector<ByteBuffer>& chunks) {
    const ByteBuffer body = join({text(form), joinAll(chunks)});
    const auto size = static_cast<std::uint32_t>(body.size());
    return join(
        {text(bigEndian ? "FORM" : "RIFF"), bigEndian ? big(size, 4) : little(size, 4), body});
}

struct WavFormat {
    std::uint16_t code = 1;  // 1 PCM, 3 IEEE float, 0xFFFE extensible
    std::uint16_t channels = 2;
    std::uint32_t sampleRate = 44100;
    std::uint16_t bits = 16;
    std::uint16_t subFormat = 1;  // extensible only: 1 PCM, 3 IEEE float
    std::uint16_t validBits = 0;  // extensible only: 0 for bits

    std::uint32_t blockAlign() const { return channels * (bits / 8u); }
};

inline ByteBuffer wavFormatBody(const WavFormat& format) {
    ByteBuffer body =
        join({little(format.code, 2), little(format.channels, 2), little(format.sampleRate, 4),
              little(std::uint64_t{format.sampleRate} * format.blockAlign(), 4),
              little(format.blockAlign(), 2), little(format.bits, 2)});
    if (format.code == 0xFFFE) {
        const ByteBuffer guidTail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        body = join({body, little(22, 2),
                     little(format.validBits == 0 ? format.bits : format.validBits, 2),
                     little(3, 4), little(format.subFormat, 2), guidTail});
    }
    return body;
}

inline ByteBuffer wavFile(const WavFormat& format, std::size_t frames) {
    return container(false, "WAVE",
                     {riffChunk("fmt ", wavFormatBody(format)),
                      riffChunk("data", pattern(frames * format.blockAlign()))});
}

// An 80-bit extended number of a whole sample rate.
inline ByteBuffer extended80(std::uint32_t rate) {
    if (rate == 0) {
        return ByteBuffer(10, 0);
    }
    int exponent = 31;
    while ((rate & (1u << exponent)) == 0) {
        --exponent;
    }
    const std::uint64_t mantissa = std::uint64_t{rate} << (63 - exponent);
    return join({big(16383 + exponent, 2), big(mantissa, 8)});
}

// An AIFF COMM body; an AIFC one when compression is given (with an empty name).
inline ByteBuffer commonBody(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits,
                             std::uint32_t rate, std::string_view compression = {}) {
    ByteBuffer body = join({big(channels, 2), big(frames, 4), big(bits, 2), extended80(rate)});
    if (!compression.empty()) {
        body = join({body, text(compression), ByteBuffer{0, 0}});
    }
    return body;
}

// An AIFF COMT body: each comment a time stamp, a marker id, its counted text and a pad byte
// after an odd text.
inline ByteBuffer commentsBody(const std::vector<std::string_view>& texts) {
    ByteBuffer body = big(texts.size(), 2);
    for (const std::string_view comment : texts) {
        body = join({body, big(0xE73F9697, 4), big(0, 2), big(comment.size(), 2), text(comment)});
        if (comment.size() % 2 == 1) {
            body.push_back(0);
        }
    }
    return body;
}

inline ByteBuffer soundBody(std::uint32_t offset, std::size_t soundBytes) {
    return join({big(offset, 4), big(0, 4), ByteBuffer(offset, 0), pattern(soundBytes)});
}

inline ByteBuffer aiffFile(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits) {
    return container(
        true, "AIFF",
        {iffChunk("COMM", commonBody(channels, frames, bits, 44100)),
         iffChunk("SSND", soundBody(0, std::size_t{frames} * channels * ((bits + 7) / 8)))});
}

// FLAC's CRC-8 (polynomial 0x07) and CRC-16 (polynomial 0x8005), a bit at a time.
inline std::uint32_t crcOf(const ByteBuffer& bytes, int width, std::uint32_t polynomial) {
    const std::uint32_t top = 1u << (width - 1);
    const std::uint32_t mask = (top << 1) - 1;
    std::uint32_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= std::uint32_t{byte} << (width - 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & top) != 0 ? ((crc << 1) ^ polynomial) & mask : (crc << 1) & mask;
        }
    }
    return crc;
}

struct FlacStream {
    std::uint32_t minBlockSize = 4096;
    std::uint32_t maxBlockSize = 4096;
    std::uint32_t minFrameSize = 0;
    std::uint32_t maxFrameSize = 0;
    std::uint32_t sampleRate = 44100;
    std::uint32_t channels = 2;
    std::uint32_t bits = 16;
    std::uint64_t totalSamples = 0;
};

inline ByteBuffer metadataBlock(std::uint8_t type, const ByteBuffer& body, bool last) {
    return join({ByteBuffer{static_cast<std::uint8_t>(type | (last ? 0x80 : 0))},
                 big(body.size(), 3), body});
}

// A VORBIS_COMMENT body: the vendor string, the count, each comment with its length, all
// lengths little-endian.
inline ByteBuffer vorbisComment(std::string_view vendor,
                                const std::vector<std::string_view>& comments) {
    ByteBuffer body = join({little(vendor.size(), 4), text(vendor), little(comments.size(), 4)});
    for (const std::string_view comment : comments) {
        body = join({body, little(comment.size(), 4), text(comment)});
    }
    return body;
}

// A PICTURE body: front cover, MIME type, description, size and depth, and the data.
inline ByteBuffer pictureBody(std::string_view mime, std::string_view description,
                              const ByteBuffer& data) {
    return join({big(3, 4), big(mime.size(), 4), text(mime), big(description.size(), 4),
                 text(description), big(1, 4), big(1, 4), big(24, 4), big(0, 4),
                 big(data.size(), 4), data});
}

inline ByteBuffer streamInfoBody(const FlacStream& stream) {
    const std::uint64_t packed = std::uint64_t{stream.sampleRate} << 44 |
                                 std::uint64_t{stream.channels - 1} << 41 |
                                 std::uint64_t{stream.bits - 1} << 36 | stream.totalSamples;
    return join({big(stream.minBlockSize, 2), big(stream.maxBlockSize, 2),
                 big(stream.minFrameSize, 3), big(stream.maxFrameSize, 3), big(packed, 8),
                 pattern(16, 7)});
}

// The number of a frame coded as FLAC codes it: like UTF-8, up to seven bytes.
inline ByteBuffer codedNumber(std::uint64_t number) {
    if (number < 0x80) {
        return {static_cast<std::uint8_t>(number)};
    }
    int length = 2;
    while (number >= (std::uint64_t{1} << (5 * length + 1))) {
        ++length;
    }
    ByteBuffer bytes(length);
    for (int index = length - 1; index > 0; --index) {
        bytes[index] = static_cast<std::uint8_t>(0x80 | (number & 0x3F));
        number >>= 6;
    }
    bytes[0] = static_cast<std::uint8_t>((0xFF00 >> length) | number);
    return bytes;
}

struct FlacFrame {
    std::uint64_t number = 0;  // frame number, or first sample with variable blocks
    std::uint32_t blockSize = 4096;
    bool variableBlocks = false;
    std::uint8_t rateCode = 9;        // 44100 Hz
    std::uint8_t channelCode = 1;     // two independent channels
    std::uint8_t bitsCode = 4;        // 16 bits
    std::uint16_t constant = 0x1234;  // the value of every sample
    bool reservedBit = false;
    std::uint8_t headerCrcFlip = 0;
    bool verbatim = false;  // 16-bit samples stored as they are, as noise needs, instead
};

// A frame of 16-bit constant or verbatim subframes, one per channel, with its CRC-8 and CRC-16.
inline ByteBuffer flacFrame(const FlacFrame& frame) {
    std::uint8_t blockCode = 7;
    ByteBuffer blockBytes = big(frame.blockSize - 1, 2);
    for (std::uint8_t code = 8; code < 16; ++code) {
        if (frame.blockSize == 256u << (code - 8)) {
            blockCode = code;
            blockBytes.clear();
        }
    }
    ByteBuffer header =
        join({ByteBuffer{0xFF, static_cast<std::uint8_t>(frame.variableBlocks ? 0xF9 : 0xF8),
                         static_cast<std::uint8_t>(blockCode << 4 | frame.rateCode),
                         static_cast<std::uint8_t>(frame.channelCode << 4 | frame.bitsCode << 1 |
                                                   (frame.reservedBit ? 1 : 0))},
              codedNumber(frame.number), blockBytes});
    header.push_back(static_cast<std::uint8_t>(crcOf(header, 8, 0x07) ^ frame.headerCrcFlip));
    const int channels = frame.channelCode < 8 ? frame.channelCode + 1 : 2;
    ByteBuffer bytes = header;
    for (int channel = 0; channel < channels; ++channel) {
        if (frame.verbatim) {
            bytes = join({bytes, ByteBuffer{0x02}, pattern(2 * frame.blockSize, channel + 1)});
        } else {
            bytes = join({bytes, ByteBuffer{0x00}, big(frame.constant, 2)});
        }
    }
    return join({bytes, big(crcOf(bytes, 16, 0x8005), 2)});
}

inline ByteBuffer flacFile(const FlacStream& stream, const std::vector<ByteBuffer>& frames,
                           const std::vector<ByteBuffer>& moreBlocks = {}) {
    return join({text("fLaC"), metadataBlock(0, streamInfoBody(stream), moreBlocks.empty()),
                 joinAll(moreBlocks), joinAll(frames)});
}

// A FLAC file of frameCount full blocks and a last one of lastBlock samples.
inline ByteBuffer flacFileOf(std::size_t frameCount, std::uint32_t lastBlock,
                             bool verbatim = false) {
    FlacStream stream;
    stream.totalSamples = frameCount * 4096 + lastBlock;
    std::vector<ByteBuffer> frames;
    for (std::size_t number = 0; number <= frameCount; ++number) {
        frames.push_back(flacFrame({.number = number,
                                    .blockSize = number == frameCount ? lastBlock : 4096,
                                    .constant = static_cast<std::uint16_t>(number * 977),
                                    .verbatim = verbatim}));
    }
    return flacFile(stream, frames);
}

// An MPEG audio frame: its four header bytes and zeros up to the length given.
inline ByteBuffer mpegFrame(std::uint32_t header, std::size_t length) {
    ByteBuffer frame = big(header, 4);
    frame.resize(length, 0);
    return frame;
}

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo: 417 bytes, or 418 with the padding bit.
inline constexpr std::uint32_t mpeg1Header = 0xFFFB9064;
inline constexpr std::uint32_t mpeg1PaddedHeader = 0xFFFB9264;
inline constexpr std::size_t mpeg1Length = 417;

inline ByteBuffer mp3Frames(std::size_t count) {
    std::vector<ByteBuffer> frames;
    for (std::size_t index = 0; index < count; ++index) {
        // Padded one frame in three or so, as an encoder keeps 128 kbit/s at 44.1 kHz.
        const bool padded = index % 3 == 1;
        frames.push_back(mpegFrame(padded ? mpeg1PaddedHeader : mpeg1Header, mpeg1Length + padded));
    }
    return joinAll(frames);
}

// An ID3v2 tag of bodySize bytes after its header (and a footer in version 4 when asked).
inline ByteBuffer id3v2(std::uint8_t major, std::uint32_t bodySize, bool footer = false) {
    ByteBuffer header =
        join({text("ID3"), ByteBuffer{major, 0, static_cast<std::uint8_t>(footer ? 0x10 : 0)}});
    for (const int shift : {21, 14, 7, 0}) {
        header.push_back(static_cast<std::uint8_t>((bodySize >> shift) & 0x7F));
    }
    ByteBuffer tag = join({header, ByteBuffer(bodySize, 0)});
    if (footer) {
        tag = join({tag, text("3DI"), ByteBuffer(header.begin() + 3, header.end())});
    }
    return tag;
}

inline ByteBuffer id3v1() {
    ByteBuffer tag = text("TAG");
    tag.resize(128, ' ');
    return tag;
}

// An APEv2 tag with a header: the header, items, and a footer whose size counts both.
inline ByteBuffer apeTag(std::size_t itemBytes) {
    const auto size = static_cast<std::uint32_t>(itemBytes + 32);
    const auto part = [&](bool header) {
        const std::uint32_t flags = (1u << 31) | (header ? 1u << 29 : 0);
        return join({text("APETAGEX"), little(2000, 4), little(size, 4), little(1, 4),
                     little(flags, 4), ByteBuffer(8, 0)});
    };
    return join({part(true), pattern(itemBytes, 3), part(false)});
}

}  // namespace quenra::testing::AudioSamples
