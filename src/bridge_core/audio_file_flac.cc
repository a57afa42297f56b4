// FLAC: "fLaC", STREAMINFO, the other metadata blocks up to the one flagged last, then frames.
//
// A frame header does not say how long its frame is, and finding out would mean decoding the
// subframes. What a frame does have is a CRC-16 over all of its bytes, at its end, so the walk
// keeps a running CRC-16 and takes a frame to end where that CRC comes to zero just before a
// valid header that agrees with the stream's channels, sample size and rate; that header must
// then be the next frame's, by its number. The last frame must end at the end of the file in
// the same way, and where STREAMINFO states the number of samples the frames must hold exactly
// that many. A file cut short, with a frame lost or repeated, or with bytes between or after
// its frames therefore fails. Zero bytes are the exception: they keep a CRC of zero at zero, so
// a run of them after a frame reads as the end of that frame. Samples are never decoded.
#include <algorithm>
#include <cstring>

#include "bridge_core/audio_file_walkers.h"

namespace quenra::AudioWalk {
namespace {

constexpr std::size_t longestFrameHeader = 16;

// flac writes up to 32 bits a sample, but libsndfile and many audio programs read at most 24.
constexpr std::uint32_t maxBitsPerSample = 24;

// CRC-16 (polynomial 0x8005, most significant bit first, starting at zero), eight bytes a step:
// crcTables[k][b] is the CRC of the byte b followed by k zero bytes.
constexpr auto crcTables = [] {
    std::array<std::array<std::uint16_t, 256>, 8> tables{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x8005 : crc << 1;
        }
        tables[0][byte] = static_cast<std::uint16_t>(crc);
    }
    for (std::size_t table = 1; table < 8; ++table) {
        for (std::size_t byte = 0; byte < 256; ++byte) {
            const std::uint16_t previous = tables[table - 1][byte];
            tables[table][byte] =
                static_cast<std::uint16_t>((previous << 8) ^ tables[0][previous >> 8]);
        }
    }
    return tables;
}();

std::uint16_t crc16(std::uint16_t crc, const std::uint8_t* bytes, std::size_t count) {
    const auto& table = crcTables;
    while (count >= 8) {
        crc = table[7][bytes[0] ^ (crc >> 8)] ^ table[6][bytes[1] ^ (crc & 0xFF)] ^
              table[5][bytes[2]] ^ table[4][bytes[3]] ^ table[3][bytes[4]] ^ table[2][bytes[5]] ^
              table[1][bytes[6]] ^ table[0][bytes[7]];
        bytes += 8;
        count -= 8;
    }
    for (; count > 0; --count, ++bytes) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[0][(crc >> 8) ^ *bytes]);
    }
    return crc;
}

// CRC-8 (polynomial 0x07) of a frame header.
std::uint8_t crc8(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t crc = 0;
    for (std::size_t index = 0; index < count; ++index) {
        crc ^= bytes[index];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) != 0 ? ((crc << 1) ^ 0x07) & 0xFF : (crc << 1) & 0xFF;
        }
    }
    return static_cast<std::uint8_t>(crc);
}

std::uint32_t little32(ByteView bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::uint32_t bigEndian(ByteView bytes, std::size_t offset, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t index = 0; index < count; ++index) {
        value = (value << 8) | bytes[offset + index];
    }
    return value;
}

// The frame number (fixed blocks) or first sample (variable blocks), coded like UTF-8 in up to
// seven bytes; its length, or 0 when the bytes are no such number.
std::size_t codedNumber(const std::uint8_t* bytes, std::size_t available, std::uint64_t& value) {
    const std::uint8_t first = bytes[0];
    std::size_t length = 1;
    if (first < 0x80) {
        value = first;
    } else if (first >= 0xC0 && first < 0xFF) {
        // One leading one bit for each byte, the first of those for the first byte itself.
        while ((first & (0x80 >> length)) != 0) {
            ++length;
        }
        value = first & (0x7F >> length);
    } else {
        return 0;
    }
    if (length > available) {
        return 0;
    }
    for (std::size_t index = 1; index < length; ++index) {
        if ((bytes[index] & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (bytes[index] & 0x3F);
    }
    return length;
}

Step scanning() {
    Step step;
    step.scan = true;
    return step;
}

struct ParsedHeader {
    std::string_view broken;
    Flac::FrameHeader header;
};

constexpr std::uint32_t codedRates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                          22050, 24000, 32000,  44100,  48000, 96000};
constexpr std::uint32_t codedBits[8] = {0, 8, 12, 0, 16, 20, 24, 32};

// The frame header at bytes, of which available can be read, checked against STREAMINFO.
ParsedHeader readFrameHeader(const std::uint8_t* bytes, std::size_t available,
                             const Flac::StreamInfo& info) {
    if (available < 6 || bytes[0] != 0xFF || (bytes[1] & 0xFE) != 0xF8) {
        return {"flac-no-frame-sync", {}};
    }
    const std::uint32_t blockCode = bytes[2] >> 4;
    const std::uint32_t rateCode = bytes[2] & 0x0F;
    const std::uint32_t channelCode = bytes[3] >> 4;
    const std::uint32_t bitsCode = (bytes[3] >> 1) & 7;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || bitsCode == 3 ||
        (bytes[3] & 1) != 0) {
        return {"flac-frame-header", {}};
    }
    Flac::FrameHeader header{};
    header.variableBlocks = (bytes[1] & 1) != 0;
    const std::size_t numberLength = codedNumber(bytes + 4, available - 4, header.number);
    if (numberLength == 0 || (!header.variableBlocks && numberLength > 6)) {
        return {"flac-frame-header", {}};
    }
    std::size_t at = 4 + numberLength;
    // Block size and sample rate may follow in 8 or 16 bits, then the CRC-8.
    const std::size_t blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const std::size_t rateBytes = rateCode == 12 ? 1 : rateCode >= 13 ? 2 : 0;
    if (available < at + blockBytes + rateBytes + 1) {
        return {"flac-frame-header", {}};
    }
    const ByteView view(bytes, available);
    if (blockBytes > 0) {
        header.blockSize = bigEndian(view, at, blockBytes) + 1;
    } else if (blockCode == 1) {
        header.blockSize = 192;
    } else if (blockCode <= 5) {
        header.blockSize = 576u << (blockCode - 2);
    } else {
        header.blockSize = 256u << (blockCode - 8);
    }
    at += blockBytes;
    std::uint32_t sampleRate = rateCode == 0 ? info.sampleRate : codedRates[rateCode % 12];
    if (rateBytes > 0) {
        const std::uint32_t coded = bigEndian(view, at, rateBytes);
        sampleRate = rateCode == 12 ? coded * 1000 : rateCode == 13 ? coded : coded * 10;
    }
    at += rateBytes;
    if (crc8(bytes, at) != bytes[at]) {
        return {"flac-frame-header-crc", {}};
    }
    header.length = static_cast<std::uint32_t>(at + 1);
    const std::uint32_t channels = channelCode < 8 ? channelCode + 1 : 2;
    const std::uint32_t bits = bitsCode == 0 ? info.bitsPerSample : codedBits[bitsCode];
    if (channels != info.channels || bits != info.bitsPerSample || sampleRate != info.sampleRate ||
        header.blockSize > info.maxBlockSize) {
        return {"flac-frame-disagrees", {}};
    }
    return {{}, header};
}

}  // namespace

Step Flac::next(ByteView piece) {
    switch (reading_) {
        case Reading::streamInfo:
            return streamInfo(piece);
        case Reading::blockHeader:
            return metadataBlock(piece);
        case Reading::vendorLength:
            return fieldThen(little32(piece), Reading::commentCount, 4, "flac-vorbis-comment");
        case Reading::commentCount:
            fieldsLeft_ = little32(piece);
            return fieldsLeft_ == 0
                       ? afterBlock()
                       : fieldThen(0, Reading::commentLength, 4, "flac-vorbis-comment");
        case Reading::commentLength:
            // Each comment is at least its four-byte length, so the count is bounded too.
            --fieldsLeft_;
            return fieldThen(little32(piece), Reading::commentLength, fieldsLeft_ == 0 ? 0 : 4,
                             "flac-vorbis-comment");
        case Reading::pictureMime:
            return fieldThen(bigEndian(piece, 4, 4), Reading::pictureDescription, 4,
                             "flac-picture");
        case Reading::pictureDescription:
            return fieldThen(bigEndian(piece, 0, 4), Reading::pictureData, 20, "flac-picture");
        case Reading::pictureData:
            return fieldThen(bigEndian(piece, 16, 4), Reading::blockHeader, 0, "flac-picture");
    }
    return refuse("flac-no-streaminfo");
}

// "fLaC", the header of a 34-byte STREAMINFO block, and the block.
Step Flac::streamInfo(ByteView piece) {
    if (std::memcmp(piece.data(), "fLaC", 4) != 0) {
        return refuse("flac-not-flac");
    }
    if ((piece[4] & 0x7F) != 0 || bigEndian(piece, 5, 3) != 34) {
        return refuse("flac-no-streaminfo");
    }
    const std::uint32_t minBlockSize = bigEndian(piece, 8, 2);
    info_.maxBlockSize = bigEndian(piece, 10, 2);
    const std::uint32_t minFrameSize = bigEndian(piece, 12, 3);
    const std::uint32_t maxFrameSize = bigEndian(piece, 15, 3);
    const std::uint32_t packed = bigEndian(piece, 18, 4);
    info_.sampleRate = packed >> 12;
    info_.channels = ((packed >> 9) & 7) + 1;
    info_.bitsPerSample = ((packed >> 4) & 0x1F) + 1;
    info_.totalSamples = std::uint64_t{packed & 0x0F} << 32 | bigEndian(piece, 22, 4);
    if (minBlockSize < 16 || minBlockSize > info_.maxBlockSize) {
        return refuse("flac-block-sizes");
    }
    if (minFrameSize != 0 && maxFrameSize != 0 && minFrameSize > maxFrameSize) {
        return refuse("flac-frame-sizes");
    }
    if (info_.sampleRate == 0) {
        return refuse("flac-sample-rate");
    }
    if (info_.bitsPerSample < 4 || info_.bitsPerSample > maxBitsPerSample) {
        return refuse("flac-bits-per-sample");
    }
    blockEnd_ = 42;
    lastBlock_ = (piece[4] & 0x80) != 0;
    return afterBlock();
}

Step Flac::afterBlock() {
    framesAt_ = blockEnd_;
    if (lastBlock_) {
        return framesAt_ == length_ ? refuse("flac-no-frames") : scanFrom(framesAt_);
    }
    if (remainingFrom(framesAt_) < 4) {
        return refuse("flac-metadata-past-end");
    }
    reading_ = Reading::blockHeader;
    return readAt(framesAt_, 4);
}

// A metadata block header: the last-block flag, the type, and the length of the block. The
// blocks that decoders parse are walked too, so that a block whose own lengths run past its
// end is refused rather than left to stop a decoder.
Step Flac::metadataBlock(ByteView piece) {
    const std::uint32_t type = piece[0] & 0x7F;
    const std::uint32_t length = bigEndian(piece, 1, 3);
    if (type == 0) {
        return refuse("flac-streaminfo-repeated");
    }
    if (type == 127) {
        return refuse("flac-metadata-type");
    }
    if (length > remainingFrom(cursor_)) {
        return refuse("flac-metadata-past-end");
    }
    blockEnd_ = cursor_ + length;
    lastBlock_ = (piece[0] & 0x80) != 0;
    switch (type) {
        case 2:  // APPLICATION: a four-byte id, then its data
            return length < 4 ? refuse("flac-application") : afterBlock();
        case 3:  // SEEKTABLE: points of 18 bytes
            return length % 18 != 0 ? refuse("flac-seektable") : afterBlock();
        case 4:  // VORBIS_COMMENT: vendor string, count, comments, each a length and its bytes
            return fieldThen(0, Reading::vendorLength, 4, "flac-vorbis-comment");
        case 6:  // PICTURE: type, MIME type, description, four numbers, data
            return fieldThen(0, Reading::pictureMime, 8, "flac-picture");
        default:
            return afterBlock();
    }
}

// Passes over skipped bytes of the block being walked, then reads count bytes for then, or
// when count is 0 goes on to the next block; none of it may run past the block's end.
Step Flac::fieldThen(std::uint64_t skipped, Reading then, std::uint32_t count,
                     std::string_view rule) {
    if (skipped > blockEnd_ - cursor_ || count > blockEnd_ - cursor_ - skipped) {
        return refuse(rule);
    }
    if (count == 0) {
        return afterBlock();
    }
    reading_ = then;
    return readAt(cursor_ + skipped, count);
}

Step Flac::scan(ByteView bytes) {
    const std::uint64_t frameRegion = length_ - framesAt_;
    if (heldCount_ > 0) {
        // The held bytes, and enough of the new ones to read any header that starts in them.
        std::array<std::uint8_t, 2 * longestFrameHeader> window{};
        const std::size_t added = std::min(bytes.size(), longestFrameHeader);
        std::copy_n(held_.begin(), heldCount_, window.begin());
        std::copy_n(bytes.begin(), added, window.begin() + heldCount_);
        const std::size_t windowCount = heldCount_ + added;
        const bool atEnd = scanned_ + added == frameRegion;
        const std::size_t ready =
            atEnd ? windowCount
                  : (windowCount >= longestFrameHeader ? windowCount - longestFrameHeader + 1 : 0);
        const std::size_t walked = std::min(ready, heldCount_);
        walkFrames(window.data(), walked, windowCount);
        if (walked < heldCount_) {
            // Then all of bytes is in the window, and fewer than a header's length remain.
            std::copy(window.begin() + walked, window.begin() + windowCount, held_.begin());
            heldCount_ = windowCount - walked;
            scanned_ += bytes.size();
            return broken_.empty() ? scanning() : refuse(broken_);
        }
        heldCount_ = 0;
    }
    const bool atEnd = scanned_ + bytes.size() == frameRegion;
    const std::size_t ready =
        atEnd ? bytes.size()
              : (bytes.size() >= longestFrameHeader ? bytes.size() - longestFrameHeader + 1 : 0);
    walkFrames(bytes.data(), ready, bytes.size());
    heldCount_ = bytes.size() - ready;
    std::copy(bytes.begin() + ready, bytes.end(), held_.begin());
    scanned_ += bytes.size();
    return broken_.empty() ? scanning() : refuse(broken_);
}

void Flac::walkFrames(const std::uint8_t* bytes, std::size_t count, std::size_t available) {
    if (!broken_.empty() || count == 0) {
        return;
    }
    if (!framesStarted_) {
        const ParsedHeader first = readFrameHeader(bytes, available, info_);
        if (!first.broken.empty()) {
            broken_ = first.broken;
            return;
        }
        if (first.header.number != 0) {
            broken_ = "flac-first-frame-number";
            return;
        }
        framesStarted_ = true;
        frame_ = first.header;
    }
    std::size_t at = 0;
    while (at < count) {
        const auto* found =
            static_cast<const std::uint8_t*>(std::memchr(bytes + at, 0xFF, count - at));
        const std::size_t sync = found != nullptr ? static_cast<std::size_t>(found - bytes) : count;
        crc_ = crc16(crc_, bytes + at, sync - at);
        frameBytes_ += sync - at;
        at = sync;
        if (at == count) {
            break;
        }
        if (crc_ == 0 && frameEndsHere()) {
            startNextFrame(bytes + at, available - at);
            if (!broken_.empty()) {
                return;
            }
        }
        crc_ = crc16(crc_, bytes + at, 1);
        ++frameBytes_;
        ++at;
    }
}

// Whether the frame walked so far could end here: longer than its header and its CRC-16.
bool Flac::frameEndsHere() const {
    return frameBytes_ >= std::uint64_t{frame_.length} + 3;
}

// A CRC of zero and a valid frame header at the same place is a frame boundary: by chance,
// about once in 2^47 bytes. The frame there must then be the next one.
void Flac::startNextFrame(const std::uint8_t* bytes, std::size_t available) {
    const ParsedHeader next = readFrameHeader(bytes, available, info_);
    if (!next.broken.empty()) {
        return;
    }
    const std::uint64_t expected =
        frame_.variableBlocks ? samplesDone_ + frame_.blockSize : framesDone_ + 1;
    if (next.header.variableBlocks != frame_.variableBlocks || next.header.number != expected) {
        broken_ = "flac-frame-number";
        return;
    }
    ++framesDone_;
    samplesDone_ += frame_.blockSize;
    frame_ = next.header;
    crc_ = 0;
    frameBytes_ = 0;
}

std::string_view Flac::finish() const {
    if (crc_ != 0 || !frameEndsHere()) {
        return "flac-frame-crc";
    }
    if (info_.totalSamples != 0 && samplesDone_ + frame_.blockSize != info_.totalSamples) {
        return "flac-sample-count";
    }
    return {};
}

}  // namespace quenra::AudioWalk
