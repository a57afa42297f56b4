#include "bridge_core/base64_payload.h"

#include <gtest/gtest.h>

namespace quenra {
namespace {

TEST(Base64Payload, AClipHashedBesideItsDecodingIsTheSame) {
    std::vector<std::uint8_t> clip(Base64Payload::Reader::hashApartFrom + 1000003);
    for (std::size_t index = 0; index < clip.size(); ++index) {
        clip[index] = static_cast<std::uint8_t>(index * 131 + (index >> 11));
    }
    const std::string text = Base64::encode(clip);
    // With room for the whole clip, with room for less and with none: the hashing moves to a
    // thread once the clip is large, and back here whenever the clip has to move. A reader
    // that does not hash decodes the same, with no thread, and gives no digest.
    for (const bool hashes : {true, false}) {
        for (const std::size_t largest :
             {clip.size(), Base64Payload::Reader::hashApartFrom, std::size_t{0}}) {
            SCOPED_TRACE(std::to_string(largest) + (hashes ? " hashed" : " not hashed"));
            Base64Payload::Reader reader(largest, {}, hashes);
            // Pieces that cut base64 groups.
            for (std::size_t offset = 0; offset < text.size(); offset += 65537) {
                reader.append(std::string_view(text).substr(offset, 65537));
            }
            const Base64Payload payload = std::move(reader).finish();
            ASSERT_TRUE(payload.decodes());
            EXPECT_EQ(ByteBuffer(payload.bytes().begin(), payload.bytes().end()), clip);
            EXPECT_EQ(payload.sha256(), hashes ? Hashing::sha256(clip) : Sha256::Digest{});
        }
    }
    // A reader given up halfway, its thread running, stops the thread with it.
    Base64Payload::Reader abandoned(clip.size());
    abandoned.append(std::string_view(text).substr(0, 2 << 20));
}

}  // namespace
}  // namespace quenra
