// Audio clips uploaded in chunks: every refusal in its order, with the upload left as it was;
// the completing chunk answered as a PREPARE is; what an ended upload leaves on disk (nothing).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/json/serialize.hpp>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "support/audio_samples.h"
#include "support/directory_listing.h"
#include "support/session_harness.h"

namespace quenra {
namespace {

using testing::SessionHarness;
namespace Samples = testing::AudioSamples;

// A small stereo 16-bit WAV of frames frames.
ByteBuffer wav(std::size_t frames = 40) {
    return Samples::wavFile({}, frames);
}

struct UploadFixture {
    explicit UploadFixture(const Limits& limits = Limits::standard()) : harness(limits) {
        harness.bind();
    }

    boost::json::object uploadRequest(const ByteBuffer& bytes, const std::string& clipId = "loop",
                                      std::int64_t generation = 1) {
        boost::json::object request = harness.request("UPLOAD");
        request["clipId"] = clipId;
        request["generation"] = generation;
        request["sha256"] = Hashing::sha256Hex(bytes);
        request["byteLength"] = static_cast<std::int64_t>(bytes.size());
        request["suggestedName"] = "Drum Loop.wav";
        request["format"] = "wav";
        return request;
    }
    boost::json::object chunkRequest(const std::string& uploadId, std::int64_t offset,
                                     const std::string& base64) {
        boost::json::object request = harness.request("UPLOAD_CHUNK");
        request["uploadId"] = uploadId;
        request["offset"] = offset;
        request["dataBase64"] = base64;
        return request;
    }
    boost::json::object chunk(const std::string& uploadId, const ByteBuffer& bytes,
                              std::size_t from, std::size_t count) {
        const ByteBuffer piece(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
        return harness.send(
            chunkRequest(uploadId, static_cast<std::int64_t>(from), Base64::encode(piece)));
    }
    std::string begin(const ByteBuffer& bytes, const std::string& clipId = "loop",
                      std::int64_t generation = 1) {
        const boost::json::object reply = harness.send(uploadRequest(bytes, clipId, generation));
        EXPECT_EQ(reply.at("type"), "UPLOADING") << boost::json::serialize(reply);
        return std::string(reply.at("uploadId").as_string());
    }
    std::vector<std::string> entries() const {
        return testing::namesIn(harness.cache.entriesDirectory());
    }

    SessionHarness harness;
};

std::string idOf(const boost::json::object& prepared) {
    return std::string(prepared.at("preparedId").as_string());
}

std::string codeOf(const boost::json::object& reply) {
    return reply.contains("code") ? std::string(reply.at("code").as_string())
                                  : std::string(reply.at("type").as_string());
}

TEST(HostSessionUpload, TwoChunksMakeAPreparedAudioClipThatArmsWithMidiParts) {
    UploadFixture fixture;
    SessionHarness& harness = fixture.harness;
    const ByteBuffer bytes = wav(300);
    const std::size_t half = bytes.size() / 2;
    harness.random.script(std::vector<std::uint8_t>(8, 0x01));  // the staging folder
    harness.random.script(std::vector<std::uint8_t>(16, 0x0a));
    const auto [started, log] = harness.sendLogged(fixture.uploadRequest(bytes));
    EXPECT_EQ(log, "quenra-native-host: uploading\n");
    std::string uploadId;
    for (int byte = 0; byte < 16; ++byte) {
        uploadId += "0a";
    }
    EXPECT_EQ(boost::json::serialize(started),
              R"({"chunkMaxBytes":16777216,"clipId":"loop","generation":1,)"
              R"("protocolVersion":"1.0","received":0,"requestId":"req-2",)"
              R"("session":{"epoch":7,"id":"browserSession01xyz"},"type":"UPLOADING",)"
              R"("uploadId":")" +
                  uploadId + R"("})");
    const boost::json::object middle = fixture.chunk(uploadId, bytes, 0, half);
    EXPECT_EQ(middle.at("type"), "UPLOADING") << boost::json::serialize(middle);
    EXPECT_EQ(middle.at("received"), static_cast<std::int64_t>(half));
    EXPECT_TRUE(harness.session.preparations().empty());

    const boost::json::object prepared = fixture.chunk(uploadId, bytes, half, bytes.size() - half);
    ASSERT_EQ(prepared.at("type"), "PREPARED") << boost::json::serialize(prepared);
    EXPECT_EQ(prepared.at("fileName"), "Drum Loop.wav");
    EXPECT_EQ(prepared.at("format"), "wav");
    EXPECT_EQ(prepared.at("byteLength"), static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(prepared.at("sha256").as_string(), Hashing::sha256Hex(bytes));
    EXPECT_TRUE(harness.session.uploads().empty());
    const std::string preparedId(prepared.at("preparedId").as_string());
    const std::string file = harness.entryDirectory(preparedId) + "/Drum Loop.wav";
    EXPECT_EQ(testing::readFileText(file), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(harness.record(preparedId).at("format"), "wav");
    EXPECT_EQ(fixture.entries().size(), 1u) << "no staging left behind";
    // Audio is not counted against the MIDI limits that STATUS reports.
    EXPECT_EQ(harness.send(harness.request("STATUS")).at("cache").at("entries"), 0);

    const boost::json::object midi = harness.prepare("drums", 1, testing::makeClip(1));
    boost::json::array clips;
    for (const boost::json::object* clip : {&prepared, &midi}) {
        clips.push_back({{"preparedId", clip->at("preparedId")},
                         {"clipId", clip->at("clipId")},
                         {"generation", clip->at("generation")},
                         {"sha256", clip->at("sha256")}});
    }
    boost::json::object arm = harness.request("ARM");
    arm["clips"] = clips;
    const boost::json::object armed = harness.send(arm);
    ASSERT_EQ(armed.at("type"), "ARMED");
    harness.board.beginChromeDrag(std::string(armed.at("marker").as_string()));
    ASSERT_EQ(harness.session.tick().size(), 1u);
    ASSERT_EQ(harness.board.claimedPaths.size(), 2u);
    // The audio clip is dropped from the user's library, the MIDI one from the cache.
    const std::string library = harness.folder.join("Music/Quenra Bridge");
    EXPECT_EQ(harness.board.claimedPaths.front(), library + "/Drum Loop.wav");
    EXPECT_EQ(harness.board.claimedPaths.back(),
              harness.session.preparations().at(idOf(midi)).entry->fileURL());
    EXPECT_EQ(testing::readFileText(library + "/Drum Loop.wav"),
              std::string(bytes.begin(), bytes.end()));
}

// The library file: made at ARM under a name no file has yet, gone again when the drag ends
// unpublished, the user's for good once published, and offered again by a later drag.
TEST(HostSessionUpload, TheLibraryFileIsMadeAtArmAndKeptOnlyOncePublished) {
    UploadFixture fixture;
    SessionHarness& harness = fixture.harness;
    const std::string library = harness.folder.join("Music/Quenra Bridge");
    std::filesystem::create_directories(library);
    testing::writeFileText(library + "/Drum Loop.wav", "the user's own");
    const ByteBuffer bytes = wav(20);
    const std::string uploadId = fixture.begin(bytes);
    const boost::json::object prepared = fixture.chunk(uploadId, bytes, 0, bytes.size());
    const std::string taken = library + "/Drum Loop 2.wav";
    const auto mode = [](const std::string& path) {
        return static_cast<unsigned>(std::filesystem::status(path).permissions());
    };

    struct Umask {
        mode_t before = ::umask(0077);
        ~Umask() { ::umask(before); }
    } strict;
    boost::json::object armed = harness.arm(prepared);
    EXPECT_EQ(testing::readFileText(library + "/Drum Loop.wav"), "the user's own");
    EXPECT_EQ(testing::readFileText(taken), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(mode(taken), 0644u);
    boost::json::object cancel = harness.request("CANCEL");
    cancel["token"] = armed.at("token");
    EXPECT_EQ(harness.send(cancel).at("wasActive"), true);
    EXPECT_FALSE(std::filesystem::exists(taken));

    std::filesystem::remove_all(library);
    armed = harness.arm(prepared);
    EXPECT_EQ(mode(library), 0755u);
    harness.board.beginChromeDrag(std::string(armed.at("marker").as_string()));
    ASSERT_EQ(harness.session.tick().size(), 1u);
    const std::string placed = library + "/Drum Loop.wav";
    ASSERT_EQ(harness.board.claimedPaths, std::vector<std::string>{placed});
    // Dragged again, the same file; ended unpublished, it stays, being the user's already.
    armed = harness.arm(prepared);
    harness.board.beginChromeDrag(std::string(armed.at("marker").as_string()));
    ASSERT_EQ(harness.session.tick().size(), 1u);
    EXPECT_EQ(harness.board.claimedPaths, (std::vector<std::string>{placed, placed}));
    armed = harness.arm(prepared);
    harness.session.shutdown();
    harness.clock.advanceWall(10 * 86400.0);
    harness.cache.sweep();
    EXPECT_TRUE(fixture.entries().empty());
    EXPECT_EQ(testing::readFileText(placed), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(testing::namesIn(library).size(), 1u);
}

// Each refusal in its order, and what it leaves: the upload as it was, so that a right chunk
// still completes it.
TEST(HostSessionUpload, RefusesInOrderAndLeavesTheUploadAsItWas) {
    struct Case {
        const char* name;
        std::function<boost::json::object(UploadFixture&, const std::string& uploadId,
                                          const ByteBuffer& bytes)>
            request;
        const char* code;
    };
    Limits limits = Limits::standard();
    limits.chunkMaxBytes = 64;
    const auto upload = [](auto change) {
        return [change](UploadFixture& fixture, const std::string&, const ByteBuffer& bytes) {
            boost::json::object request = fixture.uploadRequest(bytes, "other");
            change(request);
            return request;
        };
    };
    const auto chunk = [](std::int64_t offset, std::string base64) {
        return [offset, base64](UploadFixture& fixture, const std::string& uploadId,
                                const ByteBuffer&) {
            return fixture.chunkRequest(uploadId, offset, base64);
        };
    };
    const std::string fiveBytes = Base64::encode(ByteBuffer{1, 2, 3, 4, 5});
    const std::vector<Case> cases = {
        {"format in capitals", upload([](auto& r) { r["format"] = "WAV"; }), "BAD_REQUEST"},
        {"no format", upload([](auto& r) { r.erase("format"); }), "BAD_REQUEST"},
        {"an empty clip", upload([](auto& r) { r["byteLength"] = 0; }), "BAD_REQUEST"},
        {"malformed before too large", upload([](auto& r) {
             r["byteLength"] = 1073741825;
             r["sha256"] = "nope";
         }),
         "BAD_REQUEST"},
        {"one byte past maxAudioBytes", upload([](auto& r) { r["byteLength"] = 1073741825; }),
         "TOO_LARGE"},
        {"no such upload", chunk(0, fiveBytes), "UNKNOWN_PREPARED"},
        {"an offset before", chunk(-1, fiveBytes), "BAD_REQUEST"},
        {"an offset past", chunk(1, fiveBytes), "BAD_REQUEST"},
        {"not base64", chunk(0, "@@@@"), "BAD_REQUEST"},
        {"unpadded base64", chunk(0, "AQI"), "BAD_REQUEST"},
        {"no bytes", chunk(0, ""), "LENGTH_MISMATCH"},
        {"more than chunkMaxBytes", chunk(0, Base64::encode(ByteBuffer(65, 1))), "LENGTH_MISMATCH"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        UploadFixture fixture(limits);
        const ByteBuffer bytes = wav(10);
        const std::string uploadId = fixture.begin(bytes);
        ASSERT_EQ(codeOf(fixture.chunk(uploadId, bytes, 0, 40)), "UPLOADING");
        boost::json::object request = item.request(fixture, uploadId, bytes);
        if (std::string_view(item.name) == "no such upload") {
            request["uploadId"] = std::string(32, 'f');
        } else if (request.contains("offset")) {
            request["offset"] = request.at("offset").as_int64() + 40;
        }
        EXPECT_EQ(codeOf(fixture.harness.send(request)), item.code);
        EXPECT_EQ(fixture.harness.session.uploads().at(uploadId).file.received(), 40);
        ASSERT_EQ(codeOf(fixture.chunk(uploadId, bytes, 40, bytes.size() - 40)), "PREPARED");
    }

    // Past the announced length, by one byte.
    UploadFixture fixture(limits);
    const ByteBuffer bytes = wav(10);
    const std::string uploadId = fixture.begin(bytes);
    ASSERT_EQ(codeOf(fixture.chunk(uploadId, bytes, 0, 40)), "UPLOADING");
    ByteBuffer longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(codeOf(fixture.chunk(uploadId, longer, 40, longer.size() - 40)), "LENGTH_MISMATCH");
    EXPECT_EQ(codeOf(fixture.chunk(uploadId, bytes, 40, bytes.size() - 40)), "PREPARED");
}

TEST(HostSessionUpload, OpenUploadsAndRoomAreBounded) {
    Limits limits = Limits::standard();
    limits.audioCacheMaxBytes = 1000;
    limits.cacheMaxBytes = 100;  // MIDI's own room, which audio never uses
    UploadFixture fixture(limits);
    SessionHarness& harness = fixture.harness;
    const ByteBuffer bytes = wav(40);  // 204 bytes
    std::vector<std::string> open;
    for (int clip = 0; clip < 4; ++clip) {
        open.push_back(fixture.begin(bytes, "clip-" + std::to_string(clip)));
    }
    EXPECT_EQ(codeOf(harness.send(fixture.uploadRequest(bytes, "clip-4"))), "RATE_LIMITED");
    boost::json::object release = harness.request("RELEASE");
    release["preparedId"] = open[0];
    EXPECT_EQ(codeOf(harness.send(release)), "RELEASED");
    // Three announced uploads of 204 bytes leave 388 of the 1000: 444 do not fit, 204 do.
    harness.clock.advanceMonotonic(10);
    EXPECT_EQ(codeOf(harness.send(fixture.uploadRequest(wav(100), "clip-5"))), "CACHE_FULL");
    const std::string fifth = fixture.begin(bytes, "clip-5");
    EXPECT_EQ(fixture.entries().size(), 4u) << "one staging folder per open upload";
    EXPECT_EQ(codeOf(fixture.chunk(fifth, bytes, 0, bytes.size())), "PREPARED");
    harness.clock.advanceMonotonic(10);
    EXPECT_EQ(codeOf(harness.send(harness.prepareRequest("midi", 1, testing::makeClip(1)))),
              "PREPARED");
}

// A hash or a format that is not what was announced ends the upload; so do RELEASE, a newer
// generation's UPLOAD and the end of the connection. Nothing of an ended upload stays on disk.
TEST(HostSessionUpload, AnEndedUploadLeavesNothing) {
    UploadFixture fixture;
    SessionHarness& harness = fixture.harness;
    ByteBuffer bytes = wav(20);

    boost::json::object wrongHash = fixture.uploadRequest(bytes);
    wrongHash["sha256"] = std::string(64, '0');
    std::string uploadId(harness.send(wrongHash).at("uploadId").as_string());
    EXPECT_EQ(codeOf(fixture.chunk(uploadId, bytes, 0, bytes.size())), "HASH_MISMATCH");
    EXPECT_EQ(codeOf(fixture.chunk(uploadId, bytes, 0, 1)), "UNKNOWN_PREPARED");

    ByteBuffer notWav = bytes;
    notWav[8] = 'X';  // "XAVE"
    uploadId = fixture.begin(notWav, "loop", 2);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(codeOf(fixture.chunk(uploadId, notWav, 0, notWav.size())), "NOT_AUDIO");
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(log.starts_with("quenra-native-host: not-audio: ")) << log;

    const std::string older = fixture.begin(bytes, "loop", 3);
    const std::string newer = fixture.begin(bytes, "loop", 4);
    EXPECT_EQ(codeOf(fixture.chunk(older, bytes, 0, 4)), "UNKNOWN_PREPARED");
    boost::json::object release = harness.request("RELEASE");
    release["preparedId"] = newer;
    EXPECT_EQ(codeOf(harness.send(release)), "RELEASED");
    const std::string last = fixture.begin(bytes, "loop", 5);
    EXPECT_EQ(codeOf(fixture.chunk(last, bytes, 0, 4)), "UPLOADING");
    EXPECT_EQ(fixture.entries().size(), 1u);
    harness.session.shutdown();
    EXPECT_TRUE(fixture.entries().empty());
}

}  // namespace
}  // namespace quenra
