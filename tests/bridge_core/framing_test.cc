#include "bridge_core/framing.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "bridge_core/limits.h"

namespace quenra {
namespace {

using Item = FrameDecoder::Item;

ByteBuffer header(std::uint32_t length) {
    return {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

ByteBuffer bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

ByteBuffer concat(std::initializer_list<ByteBuffer> parts) {
    ByteBuffer all;
    for (const ByteBuffer& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Small limits keep the skip and corrupt boundaries cheap to reach.
Limits smallLimits() {
    Limits limits;
    limits.maxRequestFrameBytes = 10;
    limits.corruptFrameBytes = 20;
    return limits;
}

TEST(FrameEncoder, PutsTheLittleEndianLengthFirst) {
    EXPECT_EQ(FrameEncoder::frame(std::string_view()), ByteBuffer({0, 0, 0, 0}));
    EXPECT_EQ(FrameEncoder::frame(std::string_view("{}")), ByteBuffer({2, 0, 0, 0, 0x7B, 0x7D}));
    const ByteBuffer payload(65536 + 258, 'x');
    const ByteBuffer framed = FrameEncoder::frame(payload);
    EXPECT_EQ(ByteBuffer(framed.begin(), framed.begin() + 4), ByteBuffer({0x02, 0x01, 0x01, 0x00}));
    EXPECT_EQ(ByteBuffer(framed.begin() + 4, framed.end()), payload);
}

TEST(FrameDecoder, TakesItsLimitsFromTheGivenRecord) {
    const FrameDecoder standard;
    EXPECT_EQ(standard.maxFrameBytes, 25165824);
    EXPECT_EQ(standard.corruptAbove, 67108864);
    const FrameDecoder small(smallLimits());
    EXPECT_EQ(small.maxFrameBytes, 10);
    EXPECT_EQ(small.corruptAbove, 20);
}

// One element of a decoded stream: a whole frame's body, or another item.
using Decoded = std::variant<ByteBuffer, Item>;

Decoded frame(std::string_view body) {
    return bytesOf(body);
}

// Rebuilds the stream from what a consumer is handed, checking that every body arrives between
// its begin and its end, in order, and as long as announced.
class Rebuilding final : public FrameDecoder::Consumer {
  public:
    void frameBegins(std::int64_t length) override {
        EXPECT_FALSE(announced_.has_value());
        announced_ = length;
    }
    void frameBytes(std::span<const std::uint8_t> bytes) override {
        ASSERT_TRUE(announced_.has_value());
        EXPECT_FALSE(bytes.empty());
        body_.insert(body_.end(), bytes.begin(), bytes.end());
        ++pieces;
    }
    void frameEnds() override {
        ASSERT_TRUE(announced_.has_value());
        EXPECT_EQ(static_cast<std::int64_t>(body_.size()), *announced_);
        decoded.emplace_back(std::exchange(body_, {}));
        announced_.reset();
    }
    void item(Item item) override {
        EXPECT_FALSE(announced_.has_value());
        decoded.emplace_back(item);
    }

    // What the last appends completed, taken out.
    std::vector<Decoded> take() { return std::exchange(decoded, {}); }

    std::vector<Decoded> decoded;
    int pieces = 0;

  private:
    std::optional<std::int64_t> announced_;
    ByteBuffer body_;
};

struct StreamCase {
    const char* name;
    Limits limits;
    ByteBuffer stream;
    std::vector<Decoded> decoded;
};

std::vector<StreamCase> streamCases() {
    const ByteBuffer ten(10, 'a');
    return {
        {"one frame",
         Limits::standard(),
         FrameEncoder::frame(std::string_view("{\"a\":1}")),
         {frame("{\"a\":1}")}},
        {"two frames",
         Limits::standard(),
         concat({FrameEncoder::frame(std::string_view("[1]")),
                 FrameEncoder::frame(std::string_view("\"x\""))}),
         {frame("[1]"), frame("\"x\"")}},
        {"empty then frame",
         Limits::standard(),
         concat({header(0), FrameEncoder::frame(std::string_view("7"))}),
         {Item::empty(), frame("7")}},
        {"at the frame limit", smallLimits(), concat({header(10), ten}), {ten}},
        {"one over the frame limit is skipped exactly",
         smallLimits(),
         concat({header(11), ByteBuffer(11, 0xEE), FrameEncoder::frame(std::string_view("ok"))}),
         {Item::tooLarge(11), frame("ok")}},
        {"at the corrupt limit is only too large",
         smallLimits(),
         concat({header(20), ByteBuffer(20, 0), header(0)}),
         {Item::tooLarge(20), Item::empty()}},
        {"one over the corrupt limit breaks for good",
         smallLimits(),
         concat({FrameEncoder::frame(std::string_view("a")), header(21),
                 FrameEncoder::frame(std::string_view("b"))}),
         {frame("a"), Item::corrupt(21)}},
        {"the largest 32-bit length",
         Limits::standard(),
         header(0xFFFFFFFF),
         {Item::corrupt(4294967295)}},
        {"standard limit plus one",
         Limits::standard(),
         header(25165825),
         {Item::tooLarge(25165825)}},
        {"standard corrupt limit",
         Limits::standard(),
         header(67108864),
         {Item::tooLarge(67108864)}},
        {"standard corrupt limit plus one",
         Limits::standard(),
         header(67108865),
         {Item::corrupt(67108865)}},
    };
}

TEST(FrameDecoder, DecodesStreamsCutAnywhere) {
    for (const StreamCase& test : streamCases()) {
        for (const std::size_t cut : {std::size_t{1}, std::size_t{3}, test.stream.size()}) {
            SCOPED_TRACE(std::string(test.name) + ", pieces of " + std::to_string(cut));
            FrameDecoder decoder(test.limits);
            Rebuilding consumer;
            for (std::size_t offset = 0; offset < test.stream.size(); offset += cut) {
                decoder.append(std::span(test.stream)
                                   .subspan(offset, std::min(cut, test.stream.size() - offset)),
                               consumer);
            }
            EXPECT_EQ(consumer.decoded, test.decoded);
        }
    }
}

TEST(FrameDecoder, OneByteAtATimeGivesTheSameItemsAtTheSamePlaces) {
    for (const StreamCase& test : streamCases()) {
        SCOPED_TRACE(test.name);
        FrameDecoder bytewise(test.limits);
        Rebuilding collected;
        // Replaying prefixes tells where each item completes in the one-call decoding.
        for (std::size_t index = 0; index < test.stream.size(); ++index) {
            bytewise.append(std::span(&test.stream[index], 1), collected);
            FrameDecoder prefix(test.limits);
            Rebuilding upToHere;
            prefix.append(std::span(test.stream.data(), index + 1), upToHere);
            EXPECT_EQ(collected.decoded, upToHere.decoded) << "after byte " << index;
        }
        EXPECT_EQ(collected.decoded, test.decoded);
    }
}

TEST(FrameDecoder, ABodyIsHandedOnInThePiecesItArrivesIn) {
    // The stream stands inside the frame until its last piece.
    FrameDecoder decoder(smallLimits());
    Rebuilding consumer;
    decoder.append(concat({header(10), ByteBuffer{1, 2, 3}}), consumer);
    EXPECT_TRUE(decoder.isMidFrame());
    decoder.append(ByteBuffer(4, 4), consumer);
    decoder.append(concat({ByteBuffer(3, 7), header(1)}), consumer);
    EXPECT_EQ(consumer.pieces, 3);
    const ByteBuffer body{1, 2, 3, 4, 4, 4, 4, 7, 7, 7};
    EXPECT_EQ(consumer.decoded, std::vector<Decoded>{body});
    EXPECT_FALSE(decoder.isMidFrame());
}

TEST(FrameDecoder, AFrameFedBytewiseCompletesOnlyOnItsLastByte) {
    const ByteBuffer stream = FrameEncoder::frame(std::string_view("{\"type\":\"HELLO\"}"));
    FrameDecoder decoder;
    Rebuilding consumer;
    for (std::size_t index = 0; index + 1 < stream.size(); ++index) {
        decoder.append(std::span(&stream[index], 1), consumer);
        EXPECT_TRUE(consumer.take().empty());
    }
    decoder.append(std::span(&stream.back(), 1), consumer);
    EXPECT_EQ(consumer.take(), std::vector<Decoded>{frame("{\"type\":\"HELLO\"}")});
}

TEST(FrameDecoder, AHeaderSplitAcrossChunksCompletesInTheNext) {
    const ByteBuffer stream = concat(
        {FrameEncoder::frame(std::string_view("ab")), FrameEncoder::frame(std::string_view("cd"))});
    FrameDecoder decoder;
    Rebuilding consumer;
    decoder.append(std::span(stream.data(), 8), consumer);
    EXPECT_EQ(consumer.take(), std::vector<Decoded>{frame("ab")});
    EXPECT_TRUE(decoder.isMidFrame());
    decoder.append(std::span(stream.data() + 8, stream.size() - 8), consumer);
    EXPECT_EQ(consumer.take(), std::vector<Decoded>{frame("cd")});
}

TEST(FrameDecoder, BrokenDropsEverythingAfterward) {
    FrameDecoder decoder(smallLimits());
    Rebuilding consumer;
    decoder.append(header(21), consumer);
    EXPECT_EQ(consumer.take(), std::vector<Decoded>{Item::corrupt(21)});
    decoder.append(FrameEncoder::frame(std::string_view("x")), consumer);
    decoder.append(header(0), consumer);
    EXPECT_TRUE(consumer.take().empty());
}

TEST(FrameDecoder, ReportsWhetherTheStreamStandsInsideAFrame) {
    FrameDecoder decoder(smallLimits());
    Rebuilding consumer;
    EXPECT_FALSE(decoder.isMidFrame());
    decoder.append(ByteBuffer{10, 0}, consumer);
    EXPECT_TRUE(decoder.isMidFrame()) << "half a header";
    decoder.append(ByteBuffer{0, 0}, consumer);
    EXPECT_FALSE(decoder.isMidFrame()) << "a whole header, no body byte";
    decoder.append(ByteBuffer{1, 2, 3}, consumer);
    EXPECT_TRUE(decoder.isMidFrame()) << "3 of 10 body bytes";
    decoder.append(ByteBuffer(7, 4), consumer);
    EXPECT_FALSE(decoder.isMidFrame()) << "the frame completed";

    decoder.append(header(12), consumer);
    EXPECT_TRUE(decoder.isMidFrame()) << "skipping";
    decoder.append(ByteBuffer(11, 0), consumer);
    EXPECT_TRUE(decoder.isMidFrame()) << "one byte left to skip";
    decoder.append(ByteBuffer(1, 0), consumer);
    EXPECT_FALSE(decoder.isMidFrame()) << "skip done";
}

TEST(FrameDecoder, ASkippedBodyIsNeverHandedOn) {
    FrameDecoder decoder;
    Rebuilding consumer;
    decoder.append(header(30000000), consumer);
    EXPECT_EQ(consumer.take(), std::vector<Decoded>{Item::tooLarge(30000000)});
    const ByteBuffer chunk(65536, 0x5A);
    std::int64_t fed = 0;
    while (fed + static_cast<std::int64_t>(chunk.size()) <= 30000000) {
        decoder.append(chunk, consumer);
        fed += static_cast<std::int64_t>(chunk.size());
    }
    EXPECT_EQ(consumer.pieces, 0);
    // The rest of the skipped body and a whole frame in one chunk: only the frame comes out.
    ByteBuffer tail(static_cast<std::size_t>(30000000 - fed), 0x5A);
    const ByteBuffer next = FrameEncoder::frame(std::string_view("{}"));
    tail.insert(tail.end(), next.begin(), next.end());
    decoder.append(tail, consumer);
    EXPECT_EQ(consumer.take(), std::vector<Decoded>{frame("{}")});
    EXPECT_EQ(consumer.pieces, 1);
}

}  // namespace
}  // namespace quenra
