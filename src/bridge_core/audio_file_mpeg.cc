// MP3: ID3v2 tags, then MPEG Layer III frames, each found where the length computed from the
// previous frame's header says, then optional APEv2 and ID3v1 tags.
//
// The walk goes over every frame to the end of the file rather than a first few: a frame header
// is four bytes, a frame is hundreds, so the walk reads about one byte in a hundred of the file
// and costs next to the upload that brought it. Only the whole chain shows that the file was not
// cut short, has no junk between frames, and ends where its last frame or tag ends. A first
// frame that carries a Xing, Info or VBRI header is a frame like the others.
#include <cstring>

#include "bridge_core/audio_file_walkers.h"

namespace quenra::AudioWalk {
namespace {

// Kilobits a second by bitrate index, for MPEG-1 and for MPEG-2 and 2.5, Layer III.
constexpr std::uint32_t mpeg1Bitrates[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                             112, 128, 160, 192, 224, 256, 320, 0};
constexpr std::uint32_t mpeg2Bitrates[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                             64, 80, 96, 112, 128, 144, 160, 0};
// Hertz by version bits (2.5, reserved, 2, 1) and sample rate index.
constexpr std::uint32_t sampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

constexpr std::uint8_t versionMpeg1 = 3;
constexpr std::uint8_t versionReserved = 1;
constexpr std::uint8_t layerThree = 1;

struct FrameHeader {
    std::string_view broken;
    std::uint32_t length = 0;
    std::uint8_t streamBits = 0;  // what stays the same in every frame of a stream
};

FrameHeader readFrameHeader(ByteView bytes) {
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) {
        return {"mp3-no-frame-sync"};
    }
    const std::uint8_t version = (bytes[1] >> 3) & 3;
    const std::uint8_t layer = (bytes[1] >> 1) & 3;
    const std::uint8_t bitrateIndex = bytes[2] >> 4;
    const std::uint8_t rateIndex = (bytes[2] >> 2) & 3;
    const std::uint8_t padding = (bytes[2] >> 1) & 1;
    const std::uint8_t emphasis = bytes[3] & 3;
    if (layer != layerThree) {
        return {"mp3-not-layer-3"};
    }
    if (bitrateIndex == 0) {
        // Free format: the length is not in the header.
        return {"mp3-free-format"};
    }
    if (version == versionReserved || bitrateIndex == 15 || rateIndex == 3 || emphasis == 2) {
        return {"mp3-frame-header"};
    }
    const bool mpeg1 = version == versionMpeg1;
    const std::uint32_t bitrate = (mpeg1 ? mpeg1Bitrates : mpeg2Bitrates)[bitrateIndex] * 1000;
    const std::uint32_t sampleRate = sampleRates[version][rateIndex];
    // 1152 samples a frame in MPEG-1, 576 in MPEG-2 and 2.5, of eight bits a byte.
    const std::uint32_t samplesPerFrame = mpeg1 ? 1152 : 576;
    return {{},
            samplesPerFrame / 8 * bitrate / sampleRate + padding,
            static_cast<std::uint8_t>((bytes[1] & 0x1E) << 2 | rateIndex)};
}

}  // namespace

Step Mpeg::next(ByteView piece) {
    const std::uint64_t at = cursor_ - piece.size();
    switch (reading_) {
        case Reading::tag:
            if (piece.size() == 10 && std::memcmp(piece.data(), "ID3", 3) == 0) {
                return tag(piece, at);
            }
            return frameHeader(piece, at);
        case Reading::frameHeader:
            return frameHeader(piece, at);
        case Reading::apeHeader:
            return apeHeader(piece, at);
    }
    return refuse("mp3-no-frames");
}

// An ID3v2 header: version 2 to 4, and a size of four seven-bit bytes that excludes the header
// and, in version 4, a footer of ten bytes.
Step Mpeg::tag(ByteView header, std::uint64_t at) {
    const std::uint8_t major = header[3];
    std::uint64_t size = 0;
    bool sizeBytesValid = true;
    for (std::size_t index = 6; index < 10; ++index) {
        sizeBytesValid = sizeBytesValid && header[index] < 0x80;
        size = (size << 7) | header[index];
    }
    if (major < 2 || major > 4 || header[4] == 0xFF || !sizeBytesValid) {
        return refuse("mp3-id3-header");
    }
    const bool footer = major == 4 && (header[5] & 0x10) != 0;
    size += 10 + (footer ? 10 : 0);
    if (size > remainingFrom(at)) {
        return refuse("mp3-tag-past-end");
    }
    const std::uint64_t end = at + size;
    if (remainingFrom(end) < 4) {
        return refuse("mp3-no-frames");
    }
    // Another tag may follow; a frame is longer than a tag header, so reading one is safe.
    return readAt(end, remainingFrom(end) >= 10 ? 10 : 4);
}

Step Mpeg::frameHeader(ByteView piece, std::uint64_t at) {
    const FrameHeader header = readFrameHeader(piece);
    if (!header.broken.empty()) {
        return frames_ == 0 ? refuse(header.broken) : trailer(piece, at);
    }
    if (frames_ > 0 && header.streamBits != streamBits_) {
        return refuse("mp3-stream-changed");
    }
    if (header.length > remainingFrom(at)) {
        return refuse("mp3-frame-past-end");
    }
    streamBits_ = header.streamBits;
    ++frames_;
    return nextFrameAt(at + header.length);
}

Step Mpeg::nextFrameAt(std::uint64_t offset) {
    if (offset == length_) {
        return endOfFile();
    }
    if (remainingFrom(offset) < 4) {
        return refuse("mp3-lost-sync");
    }
    reading_ = Reading::frameHeader;
    return readAt(offset, 4);
}

// What may follow the last frame: an APEv2 tag that starts with its header, and an ID3v1 tag,
// which is the last 128 bytes of the file.
Step Mpeg::trailer(ByteView piece, std::uint64_t at) {
    if (std::memcmp(piece.data(), "TAG", 3) == 0 && remainingFrom(at) == 128) {
        return endOfFile();
    }
    if (std::memcmp(piece.data(), "APET", 4) == 0 && remainingFrom(at) >= 32) {
        reading_ = Reading::apeHeader;
        return readAt(at + 4, 28);
    }
    return refuse("mp3-lost-sync");
}

// The rest of an APEv2 header after "APET": "AGEX", version, the size of the items and footer,
// the item count, flags that say it is a header, eight reserved bytes.
Step Mpeg::apeHeader(ByteView piece, std::uint64_t at) {
    const auto little32 = [&](std::size_t offset) {
        return std::uint32_t{piece[offset]} | std::uint32_t{piece[offset + 1]} << 8 |
               std::uint32_t{piece[offset + 2]} << 16 | std::uint32_t{piece[offset + 3]} << 24;
    };
    constexpr std::uint32_t isHeader = 1u << 29;
    const std::uint32_t size = little32(8);
    if (std::memcmp(piece.data(), "AGEX", 4) != 0 || (little32(16) & isHeader) == 0 || size < 32) {
        return refuse("mp3-lost-sync");
    }
    const std::uint64_t tagAt = at - 4;
    if (std::uint64_t{size} + 32 > remainingFrom(tagAt)) {
        return refuse("mp3-tag-past-end");
    }
    const std::uint64_t end = tagAt + 32 + size;
    if (end == length_) {
        return endOfFile();
    }
    if (remainingFrom(end) != 128) {
        return refuse("mp3-lost-sync");
    }
    reading_ = Reading::frameHeader;
    return readAt(end, 4);
}

std::string_view Mpeg::finish() const {
    return frames_ == 0 ? "mp3-no-frames" : "";
}

}  // namespace quenra::AudioWalk
