#include "bridge_core/base64.h"

#include <gtest/gtest.h>

#include "support/base64_alphabet.h"

namespace quenra {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

bool decoderKeepsToAlphabet(std::string_view text) {
    Base64::Decoder decoder;
    std::vector<std::uint8_t> out(decoder.mostBytesFor(text.size()));
    decoder.append(text, out.data());
    return decoder.keepsToAlphabet();
}

TEST(Base64Decoder, KeepsToTheAlphabetWithAtMostTwoTrailingPads) {
    for (const char* text : {"", "=", "==", "AB+/", "ab==", "abc="}) {
        EXPECT_TRUE(decoderKeepsToAlphabet(text)) << text;
    }
    for (const char* text : {"===", "a=b", "=a", "ab-_", "ab\n", "a b="}) {
        EXPECT_FALSE(decoderKeepsToAlphabet(text)) << text;
    }
    // Every byte value, alone and at each place of a long text.
    for (int byte = 0; byte < 256; ++byte) {
        for (const std::size_t at : {std::size_t{0}, std::size_t{63}, std::size_t{64},
                                     std::size_t{130}, std::size_t{198}}) {
            std::string text(200, 'Q');
            text[at] = static_cast<char>(byte);
            EXPECT_EQ(decoderKeepsToAlphabet(text), testing::isBase64Text(text))
                << byte << " at " << at;
        }
    }
}

TEST(Base64, EncodesTheRfcVectors) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xfb\xff", "+/8="},
    };
    for (const auto& [plain, encoded] : vectors) {
        SCOPED_TRACE(encoded);
        EXPECT_EQ(Base64::encode(bytesOf(plain)), encoded);
        EXPECT_EQ(Base64::decode(encoded), bytesOf(plain));
    }
}

TEST(Base64, DecodeRefusesAnythingNotCanonical) {
    for (const char* bad : {"Zg", "Zg=", "Zg===", "Z===", "====", "=Zg=", "Zg=a", "Zm9v\n", " Zm9v",
                            "Zm-v", "Zm_v", "Zh==", "Zm9=", "Zm8=Zm8=", "Z\xC3\xA9="}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(Base64::decode(bad).has_value());
    }
}

TEST(Base64, EveryByteValueRoundTrips) {
    std::vector<std::uint8_t> all(256);
    for (int value = 0; value < 256; ++value) {
        all[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(value);
    }
    for (std::size_t length = 0; length <= all.size(); ++length) {
        const std::vector<std::uint8_t> prefix(all.begin(),
                                               all.begin() + static_cast<long>(length));
        EXPECT_EQ(Base64::decode(Base64::encode(prefix)), prefix) << length;
    }
}

TEST(Base64, ADecoderFedInPiecesGivesWhatDecodeGives) {
    // Texts that decode, and texts that fail in each way a strict decoder can tell, some long
    // enough to take the whole-group path between their pieces' ends.
    const std::vector<std::string> texts = {
        "",
        "Zg==",
        "Zm8=",
        "Zm9v",
        "Zm9vYmFyZm9vYmFyZm9vYmFy",
        "+/8=",
        "Zm9vYmFyZm9vYmFyZm9vYg==",
        "Zg",
        "Zg=",
        "Zg===",
        "Z===",
        "====",
        "=Zg=",
        "Zg=a",
        "Zm9v\n",
        "Zh==",
        "Zm9=",
        "Zm8=Zm8=",
        "Z\xC3\xA9=",
        "=",
        "==",
        "===",
        "AB=",
        "ABC==",
        "Zm9vYmFy-m9vYmFy",
        "Zm9vYmFyZm9vYmF=Zm9v",
        "Zm9vYmFyZm9vYmFyZ===",
    };
    for (const std::string& text : texts) {
        const auto whole = Base64::decode(text);
        for (std::size_t first = 0; first <= text.size(); ++first) {
            for (std::size_t second = first; second <= text.size(); ++second) {
                SCOPED_TRACE(text + " cut at " + std::to_string(first) + " and " +
                             std::to_string(second));
                Base64::Decoder decoder;
                // Each call writes into a buffer of its own of exactly the room it asks for, so
                // that a write past it is caught (under AddressSanitizer).
                std::vector<std::uint8_t> out;
                for (const std::string_view piece :
                     {std::string_view(text).substr(0, first),
                      std::string_view(text).substr(first, second - first),
                      std::string_view(text).substr(second)}) {
                    std::vector<std::uint8_t> room(decoder.mostBytesFor(piece.size()));
                    room.resize(decoder.append(piece, room.data()));
                    out.insert(out.end(), room.begin(), room.end());
                }
                EXPECT_EQ(decoder.length(), text.size());
                EXPECT_EQ(decoder.keepsToAlphabet(), testing::isBase64Text(text));
                std::vector<std::uint8_t> room(2);
                const std::optional<std::size_t> last = decoder.finish(room.data());
                ASSERT_EQ(last.has_value(), whole.has_value());
                if (last) {
                    out.insert(out.end(), room.begin(), room.begin() + static_cast<long>(*last));
                    EXPECT_EQ(out, *whole);
                }
            }
        }
    }
}

}  // namespace
}  // namespace quenra
