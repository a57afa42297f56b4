#include "bridge_core/entry_record.h"

#include <gtest/gtest.h>

#include <ostream>

namespace quenra {
namespace {

EntryRecord sample() {
    EntryRecord record;
    record.preparedId = "00112233445566778899aabbccddeeff";
    record.state = EntryState::armed;
    record.fileName = "Song/\u00e9.mid";
    record.byteLength = 14;
    record.sha256 = std::string(64, 'a');
    record.createdAt = 1700000000.25;
    record.touchedAt = 1700000001.5;
    return record;
}

TEST(EntryRecord, EncodesCompactlyWithSortedKeysAndNoRetainUntilWhenNone) {
    EXPECT_EQ(*sample().encode(),
              "{\"byteLength\":14,\"createdAt\":1700000000.25,\"fileName\":\"Song/\u00e9.mid\","
              "\"preparedId\":\"00112233445566778899aabbccddeeff\",\"sha256\":\"" +
                  std::string(64, 'a') +
                  "\",\"state\":\"armed\",\"touchedAt\":1700000001.5,\"version\":1}");
    EntryRecord retained = sample();
    retained.retainUntil = 1700086400.75;
    EXPECT_NE(retained.encode()->find(",\"retainUntil\":1700086400.75,\"sha256\""),
              std::string::npos);
    retained.retainUntil = 1.0 / 0.0;
    EXPECT_FALSE(retained.encode());
    // An audio clip's record names its format in its sorted place; a MIDI record never does.
    EntryRecord audio = sample();
    audio.format = "wav";
    EXPECT_NE(audio.encode()->find("\"fileName\":\"Song/\u00e9.mid\",\"format\":\"wav\","
                                   "\"preparedId\""),
              std::string::npos);
    EXPECT_EQ(EntryRecord::decode(*audio.encode()), audio);
}

TEST(EntryRecord, RoundTripsEveryStateAndWholeSecondTimes) {
    for (const EntryState state :
         {EntryState::prepared, EntryState::armed, EntryState::published}) {
        EntryRecord record = sample();
        record.state = state;
        record.createdAt = 1700000000;  // written as an integer, read back as a time
        record.retainUntil = 1700000002;
        EXPECT_EQ(EntryRecord::decode(*record.encode()), record);
    }
}

struct DecodeCase {
    const char* what;
    std::string json;
    bool readable;
};

void PrintTo(const DecodeCase& value, std::ostream* out) {
    *out << value.what;
}

class EntryRecordDecoding : public ::testing::TestWithParam<DecodeCase> {};

const std::string base =
    "\"byteLength\":3,\"createdAt\":1.5,\"fileName\":\"a.mid\",\"preparedId\":\"p\","
    "\"sha256\":\"s\",\"state\":\"prepared\",\"touchedAt\":2";

TEST_P(EntryRecordDecoding, IsStrictAboutRequiredKeysAndTypes) {
    EXPECT_EQ(EntryRecord::decode(GetParam().json).has_value(), GetParam().readable)
        << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Records, EntryRecordDecoding,
    ::testing::Values(
        DecodeCase{"complete", "{" + base + ",\"version\":1}", true},
        DecodeCase{"version is not checked", "{" + base + ",\"version\":7}", true},
        DecodeCase{"null retainUntil", "{" + base + ",\"version\":1,\"retainUntil\":null}", true},
        DecodeCase{"unknown keys ignored", "{" + base + ",\"version\":1,\"extra\":[1]}", true},
        DecodeCase{"an audio format", "{" + base + ",\"version\":1,\"format\":\"flac\"}", true},
        DecodeCase{"format not a string", "{" + base + ",\"version\":1,\"format\":1}", false},
        DecodeCase{"negative length is a valid integer",
                   "{\"byteLength\":-5," + base.substr(15) + ",\"version\":1}", true},
        DecodeCase{"version missing", "{" + base + "}", false},
        DecodeCase{"version as text", "{" + base + ",\"version\":\"1\"}", false},
        DecodeCase{"version fractional", "{" + base + ",\"version\":1.5}", false},
        DecodeCase{"length fractional",
                   "{\"byteLength\":3.5," + base.substr(15) + ",\"version\":1}", false},
        DecodeCase{"length beyond 64 bits",
                   "{\"byteLength\":18446744073709551615," + base.substr(15) + ",\"version\":1}",
                   false},
        DecodeCase{"unknown state",
                   "{" + base.substr(0, base.find("prepared\"")) + "done\"," +
                       "\"touchedAt\":2,\"version\":1}",
                   false},
        DecodeCase{"retainUntil as text", "{" + base + ",\"version\":1,\"retainUntil\":\"x\"}",
                   false},
        DecodeCase{"time as text", "{" + base.substr(0, base.size() - 1) + "\"2\",\"version\":1}",
                   false},
        DecodeCase{"time past the double range",
                   "{" + base.substr(0, base.size() - 1) + "1e999,\"version\":1}", false},
        DecodeCase{"createdAt past the double range",
                   "{\"byteLength\":3,\"createdAt\":-1e999," + base.substr(31) + ",\"version\":1}",
                   false},
        DecodeCase{"retainUntil past the double range",
                   "{" + base + ",\"version\":1,\"retainUntil\":1e400}", false},
        DecodeCase{"an array", "[1,2]", false}, DecodeCase{"truncated", "{" + base, false},
        DecodeCase{"trailing garbage", "{" + base + ",\"version\":1}x", false},
        DecodeCase{"empty", "", false}));

}  // namespace
}  // namespace quenra
