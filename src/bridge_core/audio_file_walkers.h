// The walkers behind AudioFileCheck, one per format. A walker never sees the bytes as they were
// split: it asks for the next piece it needs by its offset in the file, at most maxRead bytes
// at a time, and the check hands it over whole. The FLAC walker also reads its frames as a plain
// stream of bytes. Every offset a walker asks for lies within the announced length.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "bridge_core/bytes.h"

namespace quenra::AudioWalk {

// The longest piece any walker reads: FLAC's "fLaC" and STREAMINFO block, 42 bytes.
inline constexpr std::uint32_t maxRead = 64;

// The range of sample rates accepted in every format: 1 Hz up to the most a FLAC stream can state.
inline constexpr std::uint64_t maxSampleRate = 1048575;

// What a walker wants next: pass over skip bytes, then either a piece of read bytes, every byte
// to the end (scan), or nothing more (the structure ends at the end of the file). A broken rule
// ends the walk.
struct Step {
    std::uint64_t skip = 0;
    std::uint32_t read = 0;
    bool scan = false;
    std::string_view broken;
};

inline Step refuse(std::string_view rule) {
    Step step;
    step.broken = rule;
    return step;
}

// Turns the offsets a walker thinks in into steps: where the walk stands in the file, and the
// announced length that bounds it.
class Cursor {
  public:
    explicit Cursor(std::uint64_t length) : length_(length) {}

  protected:
    // The piece of count bytes at offset, which must not lie before the cursor.
    Step readAt(std::uint64_t offset, std::uint32_t count) {
        Step step;
        step.skip = offset - cursor_;
        step.read = count;
        cursor_ = offset + count;
        return step;
    }
    Step endOfFile() {
        Step step;
        step.skip = length_ - cursor_;
        cursor_ = length_;
        return step;
    }
    Step scanFrom(std::uint64_t offset) {
        Step step;
        step.skip = offset - cursor_;
        step.scan = true;
        cursor_ = offset;
        return step;
    }
    // The bytes of the file from offset on.
    std::uint64_t remainingFrom(std::uint64_t offset) const { return length_ - offset; }

    std::uint64_t length_;
    std::uint64_t cursor_ = 0;
};

// A chunk list as RIFF and IFF lay it out: a four-byte id, a 32-bit size, the body and a pad byte
// when the size is odd. Where the chunks must end and what the container's size field may say
// are the same rule in both.
class ChunkList : public Cursor {
  public:
    ChunkList(std::uint64_t length, bool bigEndian) : Cursor(length), bigEndian_(bigEndian) {}

  protected:
    struct Header {
        std::array<std::uint8_t, 4> id;
        std::uint32_t size;
        std::uint64_t bodyAt;
    };

    std::uint32_t number32(ByteView bytes, std::size_t offset) const;
    std::uint16_t number16(ByteView bytes, std::size_t offset) const;
    // The chunk header just read.
    Header header(ByteView piece) const;
    // The next chunk header at offset, or the end when offset is the end of the file; fewer
    // bytes than a header after the last chunk break trailingRule.
    Step chunkHeaderAt(std::uint64_t offset, std::string_view trailingRule);
    // Four printable ASCII characters, as both layouts require of an id.
    static bool hasPrintableId(const Header& header);
    bool fits(const Header& header) const { return header.size <= remainingFrom(header.bodyAt); }
    // The rule a chunk header breaks, of the two every chunk keeps (its id printable, its body
    // within the file), or none.
    std::string_view brokenHeaderRule(const Header& header, std::string_view idRule,
                                      std::string_view pastEndRule) const {
        return !hasPrintableId(header) ? idRule : !fits(header) ? pastEndRule : std::string_view();
    }
    // Where the chunk after this one starts: after the pad byte of an odd size, which the last
    // chunk of the file may lack.
    std::uint64_t afterChunk(const Header& header);
    // Whether the container's size field agrees with where the chunks ended: exactly, or off by
    // the pad byte of an odd final chunk, counted or not, present or not.
    bool containerSizeAgrees(std::uint32_t declared) const;

    bool bigEndian_;
    std::uint64_t nextChunkAt_ = 0;
    std::uint64_t lastEnd_ = 0;  // the end of the last chunk's body, before any pad byte
    bool lastOdd_ = false;
};

class Wav : public ChunkList {
  public:
    explicit Wav(std::uint64_t length) : ChunkList(length, false) {}
    Step begin();
    Step next(ByteView piece);
    Step scan(ByteView) { return refuse("wav-not-riff-wave"); }
    std::string_view finish() const;

  private:
    enum class Reading { container, chunkHeader, format };
    Step nextChunk(std::uint64_t offset);
    Step chunk(const Header& header);
    Step format(ByteView body);

    Reading reading_ = Reading::container;
    std::uint32_t declaredSize_ = 0;
    std::uint32_t blockAlign_ = 0;
    bool formatSeen_ = false;
    bool dataSeen_ = false;
};

class Aiff : public ChunkList {
  public:
    explicit Aiff(std::uint64_t length) : ChunkList(length, true) {}
    Step begin();
    Step next(ByteView piece);
    Step scan(ByteView) { return refuse("aiff-not-form"); }
    std::string_view finish() const;

  private:
    enum class Reading { container, chunkHeader, common, sound, commentCount, comment };
    Step nextChunk(std::uint64_t offset);
    Step nextComment(std::uint64_t offset);
    Step comment(ByteView header);
    Step chunk(const Header& header);
    Step common(ByteView body);
    Step sound(ByteView body);
    bool isSaneRate(ByteView body, std::size_t offset) const;

    Reading reading_ = Reading::container;
    bool compressed_ = false;  // AIFC, whose COMM names its compression
    std::uint32_t declaredSize_ = 0;
    bool commonSeen_ = false;
    bool soundSeen_ = false;
    std::uint32_t soundSize_ = 0;
    std::uint64_t frameBytes_ = 0;  // what COMM announces, in bytes
    std::uint64_t soundBytes_ = 0;  // what SSND holds after its offset
    std::uint64_t commentsEnd_ = 0;
    std::uint32_t commentsLeft_ = 0;
};

class Flac : public Cursor {
  public:
    explicit Flac(std::uint64_t length) : Cursor(length) {}
    Step begin() { return length_ < 42 ? refuse("flac-no-streaminfo") : readAt(0, 42); }
    Step next(ByteView piece);
    Step scan(ByteView bytes);
    std::string_view finish() const;

    // What STREAMINFO says and every frame header must agree with.
    struct StreamInfo {
        std::uint32_t maxBlockSize;
        std::uint32_t sampleRate;
        std::uint32_t channels;
        std::uint32_t bitsPerSample;
        std::uint64_t totalSamples;  // 0 when the writer did not know
    };
    struct FrameHeader {
        std::uint32_t length;  // bytes up to and with its CRC-8
        std::uint32_t blockSize;
        std::uint64_t number;  // the frame's number, or its first sample's when blocks vary
        bool variableBlocks;
    };

  private:
    // Where the walk of the metadata stands: what the next piece is.
    enum class Reading {
        streamInfo,
        blockHeader,
        vendorLength,
        commentCount,
        commentLength,
        pictureMime,
        pictureDescription,
        pictureData
    };
    Step streamInfo(ByteView piece);
    Step metadataBlock(ByteView piece);
    Step fieldThen(std::uint64_t skipped, Reading then, std::uint32_t count, std::string_view rule);
    Step afterBlock();
    // Walks the frame bytes at [0, count) of bytes, of which available can be read.
    void walkFrames(const std::uint8_t* bytes, std::size_t count, std::size_t available);
    bool frameEndsHere() const;
    void startNextFrame(const std::uint8_t* bytes, std::size_t available);

    StreamInfo info_{};
    Reading reading_ = Reading::streamInfo;
    std::uint64_t blockEnd_ = 0;  // the end of the metadata block being walked
    bool lastBlock_ = false;
    std::uint32_t fieldsLeft_ = 0;  // comments still to come in a VORBIS_COMMENT block
    std::uint64_t framesAt_ = 0;
    std::uint64_t scanned_ = 0;  // frame bytes walked or held
    std::string_view broken_;
    bool framesStarted_ = false;
    FrameHeader frame_{};  // the frame being walked
    std::uint64_t frameBytes_ = 0;
    std::uint16_t crc_ = 0;  // CRC-16 of the frame's bytes so far
    std::uint64_t framesDone_ = 0;
    std::uint64_t samplesDone_ = 0;
    // Frame bytes not walked yet, as a frame header that starts there could reach into the
    // next piece: fewer than the longest header.
    std::array<std::uint8_t, 16> held_{};
    std::size_t heldCount_ = 0;
};

class Mpeg : public Cursor {
  public:
    explicit Mpeg(std::uint64_t length) : Cursor(length) {}
    Step begin() { return length_ < 10 ? refuse("mp3-no-frames") : readAt(0, 10); }
    Step next(ByteView piece);
    Step scan(ByteView) { return refuse("mp3-no-frames"); }
    std::string_view finish() const;

  private:
    enum class Reading { tag, frameHeader, apeHeader };
    Step tag(ByteView header, std::uint64_t at);
    Step frameHeader(ByteView piece, std::uint64_t at);
    Step nextFrameAt(std::uint64_t offset);
    Step trailer(ByteView piece, std::uint64_t at);
    Step apeHeader(ByteView piece, std::uint64_t at);

    Reading reading_ = Reading::tag;
    std::uint64_t frames_ = 0;
    std::uint8_t streamBits_ = 0;  // version, layer and sample rate of the first frame
};

}  // namespace quenra::AudioWalk
