#include "bridge_core/midi_file.h"

#include <gtest/gtest.h>

#include "bridge_core/hashing.h"

namespace quenra {
namespace {

using ByteBuffer = std::vector<std::uint8_t>;

ByteBuffer be32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

ByteBuffer headerChunk(std::uint16_t format, std::uint16_t tracks, std::uint16_t division,
                       std::uint32_t length = 6) {
    ByteBuffer bytes{'M', 'T', 'h', 'd'};
    const ByteBuffer size = be32(length);
    bytes.insert(bytes.end(), size.begin(), size.end());
    for (const std::uint16_t field : {format, tracks, division}) {
        bytes.push_back(static_cast<std::uint8_t>(field >> 8));
        bytes.push_back(static_cast<std::uint8_t>(field));
    }
    return bytes;
}

ByteBuffer chunk(std::string_view type, const ByteBuffer& data,
                 std::optional<std::uint32_t> length = {}) {
    ByteBuffer bytes(type.begin(), type.end());
    const ByteBuffer size = be32(length.value_or(static_cast<std::uint32_t>(data.size())));
    bytes.insert(bytes.end(), size.begin(), size.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

ByteBuffer operator+(ByteBuffer left, const ByteBuffer& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

const ByteBuffer endOfTrack{0x00, 0xFF, 0x2F, 0x00};
const ByteBuffer minimal = headerChunk(0, 1, 96) + chunk("MTrk", endOfTrack);

TEST(MIDIFile, StructuralCases) {
    struct Case {
        const char* name;
        ByteBuffer data;
        bool valid;
    };
    ByteBuffer headerSeven = headerChunk(0, 1, 96, 7);
    headerSeven.push_back(0);
    const std::vector<Case> cases = {
        {"minimal", minimal, true},
        {"track of end of track alone", headerChunk(0, 1, 96) + chunk("MTrk", {0xFF, 0x2F, 0x00}),
         true},
        {"SMPTE division", headerChunk(0, 1, 0xE728) + chunk("MTrk", endOfTrack), true},
        {"format 2 with two tracks",
         headerChunk(2, 2, 96) + chunk("MTrk", endOfTrack) + chunk("MTrk", endOfTrack), true},
        {"13 bytes", ByteBuffer(minimal.begin(), minimal.begin() + 13), false},
        {"header only", headerChunk(0, 1, 96), false},
        {"wrong type",
         ByteBuffer{'M', 'T', 'h', 'e'} + ByteBuffer(minimal.begin() + 4, minimal.end()), false},
        {"header length 7", headerSeven + chunk("MTrk", endOfTrack), false},
        {"format 3", headerChunk(3, 1, 96) + chunk("MTrk", endOfTrack), false},
        {"0 tracks", headerChunk(1, 0, 96), false},
        {"division 0", headerChunk(0, 1, 0) + chunk("MTrk", endOfTrack), false},
        {"format 0 with 2 tracks",
         headerChunk(0, 2, 96) + chunk("MTrk", endOfTrack) + chunk("MTrk", endOfTrack), false},
        {"format 1 announcing 2 with 1", headerChunk(1, 2, 96) + chunk("MTrk", endOfTrack), false},
        {"unknown chunks do not count",
         headerChunk(1, 2, 96) + chunk("XFIH", {1, 2, 3}) + chunk("MTrk", endOfTrack), false},
        {"a second MThd is skipped",
         headerChunk(0, 1, 96) + chunk("MThd", {0, 0, 0, 1, 0, 96}) + chunk("MTrk", endOfTrack),
         true},
        {"trailing empty unknown chunk", minimal + chunk("JUNK", {}), true},
        {"track length past the end", headerChunk(0, 1, 96) + chunk("MTrk", endOfTrack, 5), false},
        {"track length 0xFFFFFFFF", headerChunk(0, 1, 96) + chunk("MTrk", endOfTrack, 0xFFFFFFFF),
         false},
        {"unknown chunk length 0xFFFFFFF8", minimal + chunk("JUNK", {}, 0xFFFFFFF8), false},
        {"track of length 2", headerChunk(0, 1, 96) + chunk("MTrk", {0x2F, 0x00}), false},
        {"track without end of track", headerChunk(0, 1, 96) + chunk("MTrk", {0, 0xFF, 0x2F, 0x01}),
         false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(MIDIFile::isValid(test.data, 16777216), test.valid);
    }
}

TEST(MIDIFile, TrailingBytesThatAreNotWholeChunksAreInvalid) {
    for (std::size_t extra = 1; extra <= 7; ++extra) {
        SCOPED_TRACE(extra);
        EXPECT_FALSE(MIDIFile::isValid(minimal + ByteBuffer(extra, 0), 16777216));
    }
}

TEST(MIDIFile, TheSizeLimitIsInclusive) {
    const auto size = static_cast<std::int64_t>(minimal.size());
    EXPECT_TRUE(MIDIFile::isValid(minimal, size));
    EXPECT_FALSE(MIDIFile::isValid(minimal, size - 1));
    // A file of exactly the standard limit passes; one byte more does not, whatever it holds.
    const ByteBuffer padding(16777216 - minimal.size() - 8, 0);
    const ByteBuffer atLimit = minimal + chunk("JUNK", padding);
    ASSERT_EQ(atLimit.size(), 16777216u);
    EXPECT_TRUE(MIDIFile::isValid(atLimit, 16777216));
    EXPECT_FALSE(
        MIDIFile::isValid(minimal + chunk("JUNK", ByteBuffer(padding.size() + 1, 0)), 16777216));
}

TEST(MIDIFile, BigEndian32ReadsMostSignificantFirst) {
    const ByteBuffer bytes{0x00, 0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(MIDIFile::bigEndian32(bytes, 1), 0x12345678u);
}

TEST(Hashing, Sha256HexIsLowercaseFips180) {
    EXPECT_EQ(Hashing::sha256Hex({}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string_view abc = "abc";
    EXPECT_EQ(Hashing::sha256Hex(std::span(reinterpret_cast<const std::uint8_t*>(abc.data()), 3)),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding no longer fits the first block and spills into a second.
    const std::string_view twoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Hashing::sha256Hex(std::span(reinterpret_cast<const std::uint8_t*>(twoBlocks.data()),
                                           twoBlocks.size())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string hex = Hashing::sha256Hex(minimal);
    EXPECT_EQ(hex.size(), 64u);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(Hashing::hex(Hashing::sha256(minimal)), hex);
}

TEST(Hashing, AnIncrementalDigestIsTheWholeOne) {
    ByteBuffer data(1000);
    for (std::size_t index = 0; index < data.size(); ++index) {
        data[index] = static_cast<std::uint8_t>(index * 7 + 3);
    }
    // Pieces that end inside, at and across the 64-byte blocks, and empty ones between.
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}, data.size()}) {
        SCOPED_TRACE(piece);
        Sha256::Incremental digest;
        for (std::size_t offset = 0; offset < data.size(); offset += piece) {
            digest.update({});
            digest.update(std::span(data).subspan(offset, std::min(piece, data.size() - offset)));
        }
        EXPECT_EQ(digest.final(), Hashing::sha256(data));
    }
    Sha256::Incremental nothing;
    EXPECT_EQ(Hashing::hex(nothing.final()), Hashing::sha256Hex({}));
}

}  // namespace
}  // namespace quenra
