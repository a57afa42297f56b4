#include "bridge_core/midi_payload.h"

#include <gtest/gtest.h>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "support/read_request.h"

namespace quenra {
namespace {

using ByteBuffer = std::vector<std::uint8_t>;

const ByteBuffer clip{'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                      96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};

PrepareRequest requestFor(const ByteBuffer& bytes) {
    return PrepareRequest{"clip",
                          1,
                          static_cast<std::int64_t>(bytes.size()),
                          Hashing::sha256Hex(bytes),
                          testing::readPayload(Base64::encode(bytes)),
                          "name"};
}

TEST(MIDIPayload, PassesAValidClip) {
    const PrepareRequest request = requestFor(clip);
    EXPECT_NO_THROW(MIDIPayload::check(request));
    EXPECT_EQ(ByteBuffer(request.midiBase64.bytes().begin(), request.midiBase64.bytes().end()),
              clip);
}

TEST(MIDIPayload, ChecksInOrder) {
    struct Case {
        const char* name;
        std::function<void(PrepareRequest&)> edit;
        ProtocolFailure expected;
    };
    const ByteBuffer notMIDI(26, 0x42);
    const std::vector<Case> cases = {
        {"non-canonical padding bits",
         [](PrepareRequest& r) { r.midiBase64 = testing::readPayload("Zh=="); },
         ProtocolFailure(ErrorCode::badRequest, "midiBase64 isn't base64")},
        {"unpadded", [](PrepareRequest& r) { r.midiBase64 = testing::readPayload("Zg"); },
         ProtocolFailure(ErrorCode::badRequest, "midiBase64 isn't base64")},
        {"byte length 1 with two decoded bytes",
         [](PrepareRequest& r) {
             r.byteLength = 1;
             r.midiBase64 = testing::readPayload("AAA=");
             r.sha256 = std::string(64, '0');
         },
         ProtocolFailure(ErrorCode::lengthMismatch, "decoded length differs")},
        {"length before hash",
         [](PrepareRequest& r) {
             r.byteLength += 1;
             r.sha256 = std::string(64, '0');
         },
         ProtocolFailure(ErrorCode::lengthMismatch, "decoded length differs")},
        {"hash differs", [](PrepareRequest& r) { r.sha256[0] = r.sha256[0] == 'a' ? 'b' : 'a'; },
         ProtocolFailure(ErrorCode::hashMismatch, "hash differs")},
        {"upper-case hash never matches",
         [](PrepareRequest& r) {
             for (char& digit : r.sha256) {
                 digit = static_cast<char>(std::toupper(digit));
             }
         },
         ProtocolFailure(ErrorCode::hashMismatch, "hash differs")},
        {"hash before structure",
         [&notMIDI](PrepareRequest& r) {
             r.midiBase64 = testing::readPayload(Base64::encode(notMIDI));
         },
         ProtocolFailure(ErrorCode::hashMismatch, "hash differs")},
        {"not MIDI",
         [&notMIDI](PrepareRequest& r) {
             r.midiBase64 = testing::readPayload(Base64::encode(notMIDI));
             r.sha256 = Hashing::sha256Hex(notMIDI);
         },
         ProtocolFailure(ErrorCode::notMIDI, "not a standard MIDI file")},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        PrepareRequest request = requestFor(clip);
        test.edit(request);
        try {
            MIDIPayload::check(request);
            ADD_FAILURE() << "passed";
        } catch (const ProtocolFailure& failure) {
            EXPECT_EQ(failure, test.expected) << failure.detail;
        }
    }
}

}  // namespace
}  // namespace quenra
