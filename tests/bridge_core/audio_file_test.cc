#include "bridge_core/audio_file.h"

#include <gtest/gtest.h>

#include <random>

#include "support/audio_samples.h"

namespace quenra {
namespace {

using namespace testing::AudioSamples;

struct Case {
    const char* name;
    ByteBuffer bytes;
    std::string_view brokenRule;  // empty: accepted
};

// The verdict when the file is fed in pieces of the given size (the last one shorter).
AudioVerdict fedInPieces(AudioFormat format, const ByteBuffer& bytes, std::size_t piece) {
    AudioFileCheck check(format, bytes.size());
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
        check.feed(ByteView(bytes).subspan(offset, std::min(piece, bytes.size() - offset)));
    }
    return check.finish();
}

// Each case's verdict, whole and in pieces of every size from 1 to 20 and of a few random
// splits: where a piece ends must never matter.
void expectVerdicts(AudioFormat format, const std::vector<Case>& cases) {
    std::mt19937 random(38);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(AudioFile::check(format, test.bytes).brokenRule, test.brokenRule);
        for (std::size_t piece = 1; piece <= 20; ++piece) {
            ASSERT_EQ(fedInPieces(format, test.bytes, piece).brokenRule, test.brokenRule) << piece;
        }
        for (int split = 0; split < 20; ++split) {
            AudioFileCheck check(format, test.bytes.size());
            std::size_t offset = 0;
            while (offset < test.bytes.size()) {
                const std::size_t piece =
                    std::min<std::size_t>(random() % 64, test.bytes.size() - offset);
                check.feed(ByteView(test.bytes).subspan(offset, piece));
                offset += piece;
            }
            ASSERT_EQ(check.finish().brokenRule, test.brokenRule) << "split " << split;
        }
    }
}

ByteBuffer with(ByteBuffer bytes, std::size_t offset, const ByteBuffer& replacement) {
    std::copy(replacement.begin(), replacement.end(), bytes.begin() + offset);
    return bytes;
}

ByteBuffer firstBytes(const ByteBuffer& bytes, std::size_t count) {
    return ByteBuffer(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

ByteBuffer cut(ByteBuffer bytes, std::size_t removed) {
    bytes.resize(bytes.size() - removed);
    return bytes;
}

ByteBuffer wavOf(std::initializer_list<ByteBuffer> chunks) {
    return container(false, "WAVE", chunks);
}

ByteBuffer fmtOf(const WavFormat& format) {
    return riffChunk("fmt ", wavFormatBody(format));
}

ByteBuffer fmtWith(const WavFormat& format, std::size_t offset, const ByteBuffer& replacement) {
    return riffChunk("fmt ", with(wavFormatBody(format), offset, replacement));
}

const WavFormat stereo16;
const ByteBuffer frames16 = riffChunk("data", pattern(4 * 10));

TEST(AudioFile, Wav) {
    const ByteBuffer good = wavFile(stereo16, 10);
    const WavFormat mono8{.channels = 1, .bits = 8};
    const ByteBuffer oddData = riffChunk("data", pattern(5));
    const ByteBuffer oddDataUnpadded = riffChunk("data", pattern(5), false);
    const WavFormat extensible{
        .code = 0xFFFE, .channels = 6, .sampleRate = 48000, .bits = 32, .validBits = 24};
    const std::vector<Case> cases = {
        {"16-bit stereo", good, ""},
        {"8-bit mono, odd data with its pad byte", wavOf({fmtOf(mono8), oddData}), ""},
        {"odd last chunk without its pad, size counting it", cut(wavOf({fmtOf(mono8), oddData}), 1),
         ""},
        {"odd last chunk without its pad, size not counting it",
         wavOf({fmtOf(mono8), oddDataUnpadded}), ""},
        {"odd last chunk with its pad, size not counting it",
         with(wavOf({fmtOf(mono8), oddData}), 4, little(4 + 24 + 13, 4)), ""},
        {"24-bit", wavFile({.bits = 24}, 3), ""},
        {"32-bit", wavFile({.bits = 32}, 3), ""},
        {"32-bit float", wavFile({.code = 3, .bits = 32}, 3), ""},
        {"64-bit float", wavFile({.code = 3, .bits = 64}, 3), ""},
        {"extensible PCM, 24 valid bits of 32", wavFile(extensible, 2), ""},
        {"extensible float", wavFile({.code = 0xFFFE, .bits = 32, .subFormat = 3}, 2), ""},
        {"32 channels", wavFile({.channels = 32}, 1), ""},
        {"1 Hz", wavFile({.sampleRate = 1}, 1), ""},
        {"1048575 Hz", wavFile({.sampleRate = 1048575}, 1), ""},
        {"one frame", wavFile(stereo16, 1), ""},
        {"JUNK before fmt, LIST after data",
         wavOf({riffChunk("JUNK", ByteBuffer(28, 0)), fmtOf(stereo16), frames16,
                riffChunk("LIST", pattern(9))}),
         ""},
        {"fact between fmt and data",
         wavOf({fmtOf(stereo16), riffChunk("fact", little(10, 4)), frames16}), ""},

        {"11 bytes", cut(good, good.size() - 11), "wav-not-riff-wave"},
        {"RIFX", with(good, 0, text("RIFX")), "wav-not-riff-wave"},
        {"AVI form", with(good, 8, text("AVI ")), "wav-not-riff-wave"},
        {"chunk id with a byte above 0x7E",
         wavOf({fmtOf(stereo16), riffChunk("LIS\x80", {}), frames16}), "wav-chunk-id"},
        {"header only", wavOf({}), "wav-fmt-missing"},
        {"no data", wavOf({fmtOf(stereo16)}), "wav-data-missing"},
        {"data before fmt", wavOf({frames16, fmtOf(stereo16)}), "wav-data-before-fmt"},
        {"two fmt", wavOf({fmtOf(stereo16), fmtOf(stereo16), frames16}), "wav-fmt-repeated"},
        {"fmt after data", wavOf({fmtOf(stereo16), frames16, fmtOf(stereo16)}), "wav-fmt-repeated"},
        {"two data", wavOf({fmtOf(stereo16), frames16, frames16}), "wav-data-repeated"},
        {"fmt of 14 bytes",
         wavOf({riffChunk("fmt ", firstBytes(wavFormatBody(stereo16), 14)), frames16}),
         "wav-fmt-size"},
        {"extensible fmt of 18 bytes",
         wavOf({riffChunk("fmt ",
                          join({firstBytes(wavFormatBody({.code = 0xFFFE}), 16), little(0, 2)})),
                frames16}),
         "wav-fmt-size"},
        {"extensible cbSize 0", wavOf({fmtWith({.code = 0xFFFE}, 16, little(0, 2)), frames16}),
         "wav-fmt-size"},
        {"IMA ADPCM", wavOf({fmtWith(stereo16, 0, little(0x11, 2)), frames16}), "wav-compressed"},
        {"mu-law", wavOf({fmtWith({.bits = 8}, 0, little(7, 2)), frames16}), "wav-compressed"},
        {"MPEG Layer III", wavOf({fmtWith(stereo16, 0, little(0x55, 2)), frames16}),
         "wav-compressed"},
        {"extensible MPEG", wavOf({fmtOf({.code = 0xFFFE, .subFormat = 0x55}), frames16}),
         "wav-compressed"},
        {"extensible with another GUID", wavOf({fmtWith({.code = 0xFFFE}, 39, {0x72}), frames16}),
         "wav-compressed"},
        {"extensible with 33 valid bits of 32",
         wavFile({.code = 0xFFFE, .bits = 32, .validBits = 33}, 2), "wav-valid-bits"},
        {"12-bit PCM", wavOf({fmtWith(stereo16, 14, little(12, 2)), frames16}),
         "wav-bits-per-sample"},
        {"16-bit float", wavOf({fmtWith({.code = 3}, 14, little(16, 2)), frames16}),
         "wav-bits-per-sample"},
        {"0 channels", wavFile({.channels = 0}, 1), "wav-channels"},
        {"33 channels", wavFile({.channels = 33}, 1), "wav-channels"},
        {"0 Hz", wavFile({.sampleRate = 0}, 1), "wav-sample-rate"},
        {"1048576 Hz", wavFile({.sampleRate = 1048576}, 1), "wav-sample-rate"},
        {"block align of 3", wavOf({fmtWith(stereo16, 12, little(3, 2)), frames16}),
         "wav-block-align"},
        {"byte rate one off", wavOf({fmtWith(stereo16, 8, little(176401, 4)), frames16}),
         "wav-byte-rate"},
        {"empty data", wavOf({fmtOf(stereo16), riffChunk("data", {})}), "wav-no-frames"},
        {"less than a frame", wavOf({fmtOf(stereo16), riffChunk("data", pattern(3))}),
         "wav-no-frames"},
        {"a frame and a half", wavOf({fmtOf(stereo16), riffChunk("data", pattern(6))}),
         "wav-partial-frame"},
        {"cut by one byte", cut(good, 1), "wav-chunk-past-end"},
        {"data size 0xFFFFFFFF", with(good, 40, little(0xFFFFFFFF, 4)), "wav-chunk-past-end"},
        {"odd chunk without pad before another",
         wavOf({fmtOf(stereo16), riffChunk("LIST", pattern(3), false), frames16}),
         "wav-chunk-past-end"},
        {"7 bytes after the last chunk", join({good, ByteBuffer(7, 0)}), "wav-trailing-bytes"},
        {"1 byte after the last chunk", join({good, ByteBuffer(1, 0)}), "wav-trailing-bytes"},
        {"RIFF size 8 short", with(good, 4, little(good.size() - 16, 4)), "wav-riff-size"},
        {"RIFF size counting its own header", with(good, 4, little(good.size(), 4)),
         "wav-riff-size"},
        {"RIFF size 0xFFFFFFFF", with(good, 4, little(0xFFFFFFFF, 4)), "wav-riff-size"},
        {"RIFF size one off with an even last chunk", with(good, 4, little(good.size() - 7, 4)),
         "wav-riff-size"},
    };
    expectVerdicts(AudioFormat::wav, cases);
}

ByteBuffer aiffOf(std::initializer_list<ByteBuffer> chunks) {
    return container(true, "AIFF", chunks);
}

ByteBuffer aifcOf(std::initializer_list<ByteBuffer> chunks) {
    return container(true, "AIFC", chunks);
}

ByteBuffer commOf(std::uint16_t channels, std::uint32_t frames, std::uint16_t bits,
                  std::string_view compression = {}, std::uint32_t rate = 44100) {
    return iffChunk("COMM", commonBody(channels, frames, bits, rate, compression));
}

ByteBuffer ssndOf(std::size_t soundBytes, std::uint32_t offset = 0) {
    return iffChunk("SSND", soundBody(offset, soundBytes));
}

TEST(AudioFile, Aiff) {
    const ByteBuffer good = aiffFile(2, 10, 16);
    const ByteBuffer comm = commOf(2, 10, 16);
    const ByteBuffer ssnd = ssndOf(40);
    const ByteBuffer fver = iffChunk("FVER", big(0xA2805140, 4));
    const ByteBuffer comments = iffChunk("COMT", commentsBody({"Processed by SoX", "odd"}));
    // 8-bit mono of five frames: SSND of 13 bytes and a pad byte, which sox leaves out of the
    // FORM size.
    const ByteBuffer oddFrames = aiffOf({commOf(1, 5, 8), ssndOf(5)});
    const std::size_t commBodyAt = 12 + 8;
    const std::vector<Case> cases = {
        {"16-bit stereo", good, ""},
        {"odd sound data, FORM size counting its pad", oddFrames, ""},
        {"odd sound data, FORM size without its pad",
         with(oddFrames, 4, big(oddFrames.size() - 9, 4)), ""},
        {"odd sound data as the last chunk, without its pad",
         aiffOf({commOf(1, 5, 8), iffChunk("SSND", soundBody(0, 5), false)}), ""},
        {"24-bit", aiffFile(2, 3, 24), ""},
        {"12-bit in two bytes", aiffOf({commOf(1, 3, 12), ssndOf(6)}), ""},
        {"AIFC NONE", aifcOf({fver, commOf(2, 10, 16, "NONE"), ssnd}), ""},
        {"AIFC sowt", aifcOf({fver, commOf(2, 10, 16, "sowt"), ssnd}), ""},
        {"AIFC fl32", aifcOf({commOf(2, 10, 32, "fl32"), ssndOf(80)}), ""},
        {"AIFC fl64", aifcOf({commOf(2, 10, 64, "fl64"), ssndOf(160)}), ""},
        {"AIFC FL32", aifcOf({commOf(2, 10, 32, "FL32"), ssndOf(80)}), ""},
        {"AIFC FL64", aifcOf({commOf(2, 10, 64, "FL64"), ssndOf(160)}), ""},
        {"SSND before COMM", aiffOf({ssnd, comm}), ""},
        {"SSND with an offset", aiffOf({comm, ssndOf(40, 12)}), ""},
        {"SSND holding more than COMM announces", aiffOf({comm, ssndOf(44)}), ""},
        {"comments and a marker", aiffOf({comments, comm, iffChunk("MARK", big(0, 2)), ssnd}), ""},
        {"no comments", aiffOf({iffChunk("COMT", big(0, 2)), comm, ssnd}), ""},
        {"rate of 1 Hz", aiffOf({commOf(2, 10, 16, {}, 1), ssnd}), ""},
        {"rate of 1048575 Hz", aiffOf({commOf(2, 10, 16, {}, 1048575), ssnd}), ""},

        {"11 bytes", cut(good, good.size() - 11), "aiff-not-form"},
        {"RIFF", with(good, 0, text("RIFF")), "aiff-not-form"},
        {"chunk id with a control character", aiffOf({comm, iffChunk("AN\x01O", {}), ssnd}),
         "aiff-chunk-id"},
        {"COMT of one byte", aiffOf({iffChunk("COMT", {0}), comm, ssnd}), "aiff-comments"},
        {"COMT counting one comment more", aiffOf({with(comments, 8, big(3, 2)), comm, ssnd}),
         "aiff-comments"},
        {"COMT text past the chunk",
         aiffOf({with(comments, 8 + 2 + 6, big(0xFFFF, 2)), comm, ssnd}), "aiff-comments"},
        {"8SVX", with(good, 8, text("8SVX")), "aiff-not-form"},
        {"no COMM", aiffOf({ssnd}), "aiff-comm-missing"},
        {"no SSND", aiffOf({comm}), "aiff-ssnd-missing"},
        {"two COMM", aiffOf({comm, comm, ssnd}), "aiff-comm-repeated"},
        {"two SSND", aiffOf({comm, ssnd, ssnd}), "aiff-ssnd-repeated"},
        {"COMM of 17 bytes", aiffOf({iffChunk("COMM", cut(commonBody(2, 10, 16, 44100), 1)), ssnd}),
         "aiff-comm-size"},
        {"AIFC COMM without compression", aifcOf({comm, ssnd}), "aiff-comm-size"},
        {"AIFC ulaw", aifcOf({commOf(2, 10, 16, "ulaw"), ssnd}), "aiff-compression"},
        {"AIFC ima4", aifcOf({commOf(2, 10, 16, "ima4"), ssnd}), "aiff-compression"},
        {"AIFC fl32 in mixed case", aifcOf({commOf(2, 10, 32, "Fl32"), ssndOf(80)}),
         "aiff-compression"},
        {"0 channels", aiffOf({commOf(0, 10, 16), ssnd}), "aiff-channels"},
        {"33 channels", aiffOf({commOf(33, 1, 16), ssndOf(66)}), "aiff-channels"},
        {"0-bit samples", aiffOf({commOf(2, 10, 0), ssnd}), "aiff-sample-size"},
        {"33-bit samples", aiffOf({commOf(2, 10, 33), ssndOf(100)}), "aiff-sample-size"},
        {"fl32 of 16 bits", aifcOf({commOf(2, 10, 16, "fl32"), ssndOf(80)}), "aiff-sample-size"},
        {"rate 0", aiffOf({commOf(2, 10, 16, {}, 0), ssnd}), "aiff-sample-rate"},
        {"rate 1048576 Hz", aiffOf({commOf(2, 10, 16, {}, 1048576), ssnd}), "aiff-sample-rate"},
        {"negative rate", with(good, commBodyAt + 8, big(0xC00E, 2)), "aiff-sample-rate"},
        {"rate below 1 Hz", with(good, commBodyAt + 8, big(16382, 2)), "aiff-sample-rate"},
        {"rate not normalized", with(good, commBodyAt + 10, big(0x2C44, 2)), "aiff-sample-rate"},
        {"0 frames", aiffOf({commOf(2, 0, 16), ssndOf(0)}), "aiff-no-frames"},
        {"SSND of 7 bytes", aiffOf({comm, iffChunk("SSND", pattern(7))}), "aiff-ssnd-size"},
        {"SSND offset past its end", aiffOf({comm, with(ssnd, 8, big(41, 4))}), "aiff-ssnd-offset"},
        {"SSND a byte short of the frames", aiffOf({comm, ssndOf(39)}), "aiff-ssnd-short"},
        {"SSND short by its offset", aiffOf({comm, with(ssnd, 8, big(2, 4))}), "aiff-ssnd-short"},
        {"cut by one byte", cut(good, 1), "aiff-chunk-past-end"},
        {"SSND size 0xFFFFFFF0", with(good, 12 + 26 + 4, big(0xFFFFFFF0, 4)),
         "aiff-chunk-past-end"},
        {"3 bytes after the last chunk", join({good, ByteBuffer(3, 0)}), "aiff-trailing-bytes"},
        {"FORM size 2 short", with(good, 4, big(good.size() - 10, 4)), "aiff-form-size"},
        {"FORM size 0x7F000050", with(good, 4, big(0x7F000050, 4)), "aiff-form-size"},
    };
    expectVerdicts(AudioFormat::aiff, cases);
}

ByteBuffer flacOf(const FlacStream& stream, std::initializer_list<FlacFrame> frames,
                  const std::vector<ByteBuffer>& moreBlocks = {}) {
    std::vector<ByteBuffer> made;
    for (const FlacFrame& frame : frames) {
        made.push_back(flacFrame(frame));
    }
    return flacFile(stream, made, moreBlocks);
}

TEST(AudioFile, Flac) {
    const FlacStream unknownTotal;
    const FlacStream total8292{.totalSamples = 8292};
    const FlacFrame first;
    const FlacFrame second{.number = 1};
    const FlacFrame last{.number = 2, .blockSize = 100};
    const ByteBuffer good = flacFileOf(2, 100);
    const ByteBuffer padding = metadataBlock(1, ByteBuffer(100, 0), false);
    const ByteBuffer commentBody = vorbisComment("reference libFLAC 1.4.2", {"TITLE=Loop", "A="});
    const ByteBuffer comment = metadataBlock(4, commentBody, true);
    const ByteBuffer picture = metadataBlock(6, pictureBody("image/png", "", pattern(30)), false);
    const std::size_t firstFrameAt = 42;
    const std::size_t frameLength = flacFrame(first).size();
    const FlacStream variable{.minBlockSize = 16, .maxBlockSize = 4096};
    const std::vector<Case> cases = {
        {"three frames, total stated", good, ""},
        {"total not stated", flacOf(unknownTotal, {first, second, last}), ""},
        {"one frame", flacOf(unknownTotal, {first}), ""},
        {"padding and a comment", flacOf(total8292, {first, second, last}, {padding, comment}), ""},
        {"a picture, a seek table, an application block and a comment",
         flacOf(unknownTotal, {first},
                {picture, metadataBlock(3, pattern(36), false),
                 metadataBlock(2, text("abcd"), false), comment}),
         ""},
        {"a comment block with bytes after its comments",
         flacOf(unknownTotal, {first}, {metadataBlock(4, join({commentBody, pattern(3)}), true)}),
         ""},
        {"24 bits", flacOf({.bits = 24}, {{.bitsCode = 6}}), ""},
        {"variable block sizes numbered by sample",
         flacOf(variable, {{.blockSize = 1000, .variableBlocks = true},
                           {.number = 1000, .blockSize = 4096, .variableBlocks = true},
                           {.number = 5096, .blockSize = 16, .variableBlocks = true}}),
         ""},
        {"samples 0xFFF8, a sync code inside a frame",
         flacOf(unknownTotal, {{.constant = 0xFFF8}, {.number = 1, .constant = 0xFFF9}}), ""},
        {"rate, bits and channels taken from STREAMINFO",
         flacOf(unknownTotal, {{.rateCode = 0, .bitsCode = 0}}), ""},

        {"41 bytes", cut(good, good.size() - 41), "flac-no-streaminfo"},
        {"OggS", with(good, 0, text("OggS")), "flac-not-flac"},
        {"comment first", join({text("fLaC"), comment, ByteBuffer(good.begin() + 4, good.end())}),
         "flac-no-streaminfo"},
        {"STREAMINFO of 33 bytes", with(good, 5, big(33, 3)), "flac-no-streaminfo"},
        {"minimum block size 15", flacOf({.minBlockSize = 15}, {first}), "flac-block-sizes"},
        {"minimum block size above the maximum", flacOf({.minBlockSize = 4097}, {first}),
         "flac-block-sizes"},
        {"minimum frame size above the maximum",
         flacOf({.minFrameSize = 20, .maxFrameSize = 19}, {first}), "flac-frame-sizes"},
        {"rate 0", flacOf({.sampleRate = 0}, {first}), "flac-sample-rate"},
        {"3 bits a sample", flacOf({.bits = 3}, {first}), "flac-bits-per-sample"},
        {"25 bits a sample", flacOf({.bits = 25}, {first}), "flac-bits-per-sample"},
        {"application block of 3 bytes",
         flacOf(unknownTotal, {first}, {metadataBlock(2, text("abc"), true)}), "flac-application"},
        {"seek table of 35 bytes",
         flacOf(unknownTotal, {first}, {metadataBlock(3, pattern(35), true)}), "flac-seektable"},
        {"vendor string past the block",
         flacOf(unknownTotal, {first},
                {metadataBlock(4, with(commentBody, 0, little(1000, 4)), true)}),
         "flac-vorbis-comment"},
        {"one comment more than the block holds",
         flacOf(unknownTotal, {first},
                {metadataBlock(4, with(commentBody, 4 + 23, little(3, 4)), true)}),
         "flac-vorbis-comment"},
        {"comment of 2^32 - 1 bytes",
         flacOf(unknownTotal, {first},
                {metadataBlock(4, with(commentBody, 4 + 23 + 4, little(0xFFFFFFFF, 4)), true)}),
         "flac-vorbis-comment"},
        {"picture data past the block",
         flacOf(unknownTotal, {first},
                {metadataBlock(6, cut(pictureBody("image/png", "", pattern(30)), 1), true)}),
         "flac-picture"},
        {"picture MIME type past the block",
         flacOf(unknownTotal, {first},
                {metadataBlock(6, with(pictureBody("image/png", "", {}), 4, big(100, 4)), true)}),
         "flac-picture"},
        {"two STREAMINFO",
         flacOf(unknownTotal, {first}, {metadataBlock(0, streamInfoBody(unknownTotal), true)}),
         "flac-streaminfo-repeated"},
        {"metadata type 127", flacOf(unknownTotal, {first}, {metadataBlock(127, {}, true)}),
         "flac-metadata-type"},
        {"block past the end",
         cut(flacOf(unknownTotal, {}, {metadataBlock(1, pattern(40), true)}), 1),
         "flac-metadata-past-end"},
        {"no last block", flacOf(unknownTotal, {}, {metadataBlock(1, {}, false)}),
         "flac-metadata-past-end"},
        {"metadata only", flacOf(unknownTotal, {}), "flac-no-frames"},
        {"no frame sync",
         join({flacOf(unknownTotal, {}), ByteBuffer{0xFF, 0xF0, 0, 0, 0, 0, 0, 0, 0}}),
         "flac-no-frame-sync"},
        {"reserved header bit", flacOf(unknownTotal, {{.reservedBit = true}}), "flac-frame-header"},
        {"reserved channel assignment", flacOf(unknownTotal, {{.channelCode = 11}}),
         "flac-frame-header"},
        {"header CRC-8 off", flacOf(unknownTotal, {{.headerCrcFlip = 1}}), "flac-frame-header-crc"},
        {"three channels in a stereo stream", flacOf(unknownTotal, {{.channelCode = 2}}),
         "flac-frame-disagrees"},
        {"48 kHz in a 44.1 kHz stream", flacOf(unknownTotal, {{.rateCode = 10}}),
         "flac-frame-disagrees"},
        {"24 bits in a 16-bit stream", flacOf(unknownTotal, {{.bitsCode = 6}}),
         "flac-frame-disagrees"},
        {"block above the maximum", flacOf(unknownTotal, {{.blockSize = 8192}}),
         "flac-frame-disagrees"},
        {"first frame numbered 1", flacOf(unknownTotal, {second}), "flac-first-frame-number"},
        {"cut by one byte", cut(good, 1), "flac-frame-crc"},
        {"cut inside the last header", cut(good, frameLength - 3), "flac-frame-crc"},
        {"a byte after the last frame", join({good, ByteBuffer{1}}), "flac-frame-crc"},
        {"a byte changed in a frame", with(good, firstFrameAt + 10, {0x99}), "flac-frame-crc"},
        {"a frame left out", flacOf(unknownTotal, {first, last}), "flac-frame-number"},
        {"a frame twice", flacOf(unknownTotal, {first, second, second, last}), "flac-frame-number"},
        {"blocks changing strategy",
         flacOf(unknownTotal, {first, {.number = 4096, .variableBlocks = true}}),
         "flac-frame-number"},
        {"cut after a whole frame", flacOf(total8292, {first, second}), "flac-sample-count"},
        {"more samples than stated", flacOf({.totalSamples = 4096}, {first, second}),
         "flac-sample-count"},
    };
    expectVerdicts(AudioFormat::flac, cases);
}

TEST(AudioFile, Mp3) {
    const ByteBuffer frames = mp3Frames(5);
    const ByteBuffer frame = mpegFrame(mpeg1Header, mpeg1Length);
    const ByteBuffer ape = apeTag(10);
    const ByteBuffer apeWithoutHeader(ape.begin() + 32, ape.end());
    const std::vector<Case> cases = {
        {"five frames", frames, ""},
        {"one frame", frame, ""},
        {"ID3v2.3 tag first", join({id3v2(3, 1000), frames}), ""},
        {"ID3v2.4 tag with a footer", join({id3v2(4, 300, true), frames}), ""},
        {"ID3v2.2 tag", join({id3v2(2, 0), frames}), ""},
        {"two ID3v2 tags", join({id3v2(3, 20), id3v2(4, 20), frames}), ""},
        {"ID3v1 tag last", join({frames, id3v1()}), ""},
        {"APEv2 tag last", join({frames, apeTag(50)}), ""},
        {"APEv2 and ID3v1 tags", join({frames, apeTag(50), id3v1()}), ""},
        {"MPEG-2, 22.05 kHz, 64 kbit/s",
         join({mpegFrame(0xFFF380C4, 208), mpegFrame(0xFFF380C4, 208)}), ""},
        {"MPEG-2.5, 8 kHz, 8 kbit/s", join({mpegFrame(0xFFE31848, 72), mpegFrame(0xFFE31848, 72)}),
         ""},
        {"MPEG-1, 48 kHz, 320 kbit/s, with CRC",
         join({mpegFrame(0xFFFAE400, 960), mpegFrame(0xFFFAE400, 960)}), ""},
        {"bitrate changing between frames", join({frame, mpegFrame(0xFFFB5064, 208)}), ""},

        {"9 bytes", ByteBuffer(frame.begin(), frame.begin() + 9), "mp3-no-frames"},
        {"tag only", id3v2(3, 100), "mp3-no-frames"},
        {"a WAV", wavFile(stereo16, 200), "mp3-no-frame-sync"},
        {"zeros before the first frame", join({ByteBuffer(1, 0), frames}), "mp3-no-frame-sync"},
        {"Layer II", mpegFrame(0xFFFD9064, 417), "mp3-not-layer-3"},
        {"free format", mpegFrame(0xFFFB0064, 417), "mp3-free-format"},
        {"bitrate index 15", mpegFrame(0xFFFBF064, 417), "mp3-frame-header"},
        {"reserved version", mpegFrame(0xFFEB9064, 417), "mp3-frame-header"},
        {"reserved sample rate", mpegFrame(0xFFFB9C64, 417), "mp3-frame-header"},
        {"reserved emphasis", mpegFrame(0xFFFB9066, 417), "mp3-frame-header"},
        {"ID3v2.5", join({with(id3v2(3, 10), 3, {5}), frames}), "mp3-id3-header"},
        {"ID3v2 size byte of 0x80", join({with(id3v2(3, 10), 9, {0x80}), frames}),
         "mp3-id3-header"},
        {"ID3v2 past the end", cut(join({id3v2(3, 1000), frame}), frame.size() + 1),
         "mp3-tag-past-end"},
        {"cut by one byte", cut(frames, 1), "mp3-frame-past-end"},
        {"a frame cut to its header",
         join({frame, ByteBuffer(frame.begin(), frame.begin() + 4), frame}), "mp3-lost-sync"},
        {"zeros between frames", join({frame, ByteBuffer(4, 0), frame}), "mp3-lost-sync"},
        {"three bytes after the last frame", join({frames, ByteBuffer(3, 0)}), "mp3-lost-sync"},
        {"ID3v1 tag a byte long", join({frames, id3v1(), ByteBuffer(1, 0)}), "mp3-lost-sync"},
        {"APE footer without header", join({frames, apeWithoutHeader}), "mp3-lost-sync"},
        {"APE tag past the end", cut(join({frames, apeTag(50)}), 1), "mp3-tag-past-end"},
        {"a byte after an APE tag", join({frames, apeTag(50), ByteBuffer(1, 0)}), "mp3-lost-sync"},
        {"sample rate changing between frames", join({frame, mpegFrame(0xFFFB9464, 384)}),
         "mp3-stream-changed"},
        {"MPEG-2 frames after MPEG-1", join({frame, mpegFrame(0xFFF380C4, 208)}),
         "mp3-stream-changed"},
    };
    expectVerdicts(AudioFormat::mp3, cases);
}

TEST(AudioFile, MoreOrFewerBytesThanAnnouncedAreNamedSo) {
    const ByteBuffer bytes = wavFile(stereo16, 10);
    for (const AudioFormat format :
         {AudioFormat::wav, AudioFormat::aiff, AudioFormat::flac, AudioFormat::mp3}) {
        SCOPED_TRACE(AudioFile::wireName(format));
        AudioFileCheck shorter(format, bytes.size() + 1);
        shorter.feed(bytes);
        EXPECT_EQ(shorter.finish().brokenRule, "file-shorter-than-announced");
        AudioFileCheck longer(format, bytes.size() - 1);
        longer.feed(ByteView(bytes).first(bytes.size() - 2));
        longer.feed(ByteView(bytes).last(2));
        EXPECT_EQ(longer.finish().brokenRule, "file-longer-than-announced");
    }
    AudioFileCheck empty(AudioFormat::mp3, 0);
    empty.feed({});
    EXPECT_EQ(empty.finish().brokenRule, "mp3-no-frames");
}

TEST(AudioFile, LargeFilesInPiecesOfAnySize) {
    // Past 16 MiB, with chunk headers and frames across every piece boundary.
    const ByteBuffer wav = wavFile(stereo16, (16 << 20) / 4 + 1001);
    const ByteBuffer mp3 = mp3Frames(45000);
    const ByteBuffer flac = flacFileOf(20000, 999);
    for (const std::size_t piece : {std::size_t{16} << 20, std::size_t{65537}, std::size_t{4095}}) {
        SCOPED_TRACE(piece);
        EXPECT_TRUE(fedInPieces(AudioFormat::wav, wav, piece).accepted());
        EXPECT_TRUE(fedInPieces(AudioFormat::mp3, mp3, piece).accepted());
        EXPECT_TRUE(fedInPieces(AudioFormat::flac, flac, piece).accepted());
    }
    EXPECT_EQ(fedInPieces(AudioFormat::wav, cut(wav, 1), 65536).brokenRule, "wav-chunk-past-end");
    EXPECT_EQ(fedInPieces(AudioFormat::mp3, cut(mp3, 1), 65536).brokenRule, "mp3-frame-past-end");
    EXPECT_EQ(fedInPieces(AudioFormat::flac, cut(flac, 1), 65536).brokenRule, "flac-frame-crc");
}

TEST(AudioFile, FormatNames) {
    struct Name {
        std::string_view wire;
        AudioFormat format;
        std::string_view extension;
    };
    for (const Name& name :
         {Name{"wav", AudioFormat::wav, ".wav"}, Name{"aiff", AudioFormat::aiff, ".aif"},
          Name{"flac", AudioFormat::flac, ".flac"}, Name{"mp3", AudioFormat::mp3, ".mp3"}}) {
        SCOPED_TRACE(name.wire);
        EXPECT_EQ(AudioFile::formatNamed(name.wire), name.format);
        EXPECT_EQ(AudioFile::wireName(name.format), name.wire);
        EXPECT_EQ(AudioFile::extension(name.format), name.extension);
    }
    for (const std::string_view other : {"WAV", "aif", "wave", "", "mp3 ", "midi", "ogg"}) {
        EXPECT_EQ(AudioFile::formatNamed(other), std::nullopt) << other;
    }
}

}  // namespace
}  // namespace quenra
