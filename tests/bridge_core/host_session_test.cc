#include "bridge_core/host_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <filesystem>
#include <functional>
#include <utility>

#include "bridge_core/base64.h"
#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "bridge_core/limits.h"
#include "support/on_another_thread.h"
#include "support/session_harness.h"

namespace quenra {
namespace {

using testing::browserSession;
using testing::Clip;
using ::testing::ElementsAre;
using testing::makeClip;
using testing::SessionHarness;

const SessionID otherSession{"anotherSession0000", 7};
const SessionID otherEpoch{browserSession.id, 8};

std::string errorBytes(const std::string& code, const std::string& requestId,
                       const SessionID& session) {
    return R"({"code":")" + code + R"(","protocolVersion":"1.0","requestId":")" + requestId +
           R"(","session":{"epoch":)" + std::to_string(session.epoch) + R"(,"id":")" + session.id +
           R"("},"type":"ERROR"})";
}

std::string codeOf(const boost::json::object& reply) {
    if (reply.at("type") != "ERROR") {
        return std::string(reply.at("type").as_string());
    }
    return std::string(reply.at("code").as_string());
}

SessionID sessionOf(const boost::json::object& reply) {
    const boost::json::object& session = reply.at("session").as_object();
    return {std::string(session.at("id").as_string()), session.at("epoch").as_int64()};
}

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

TEST(HostSessionReceive, EachItemKindGetsItsReply) {
    SessionHarness harness;
    const SessionID unbound = Outgoing::unboundSession;
    EXPECT_THAT(harness.session.receive(FrameDecoder::Item::tooLarge(25165825)),
                ElementsAre(errorBytes("TOO_LARGE", "unparsed", unbound)));
    EXPECT_THAT(harness.session.receive(FrameDecoder::Item::empty()),
                ElementsAre(errorBytes("BAD_REQUEST", "unparsed", unbound)));
    EXPECT_TRUE(harness.session.receive(FrameDecoder::Item::corrupt(67108865)).empty());

    harness.bind();
    EXPECT_THAT(harness.session.receive(FrameDecoder::Item::tooLarge(25165825)),
                ElementsAre(errorBytes("TOO_LARGE", "unparsed", browserSession)));
}

TEST(HostSessionReceive, UnreadableAndInvalidRequestsEchoWhatCanBeSalvaged) {
    struct Case {
        const char* name;
        std::string body;
        bool bindFirst;
        std::string expected;
    };
    const std::string session = R"("session":{"id":"anotherSession0000","epoch":7})";
    const std::vector<Case> cases = {
        {"not JSON", "{\"type\":", false,
         errorBytes("BAD_REQUEST", "unparsed", Outgoing::unboundSession)},
        {"a bare string", R"("HELLO")", false,
         errorBytes("BAD_REQUEST", "unparsed", Outgoing::unboundSession)},
        {"unknown type, before binding",
         R"({"protocolVersion":"1.0","requestId":"r-9",)" + session + R"(,"type":"X"})", false,
         errorBytes("BAD_REQUEST", "r-9", otherSession)},
        {"unknown type, after binding",
         R"({"protocolVersion":"1.0","requestId":"r-9",)" + session + R"(,"type":"X"})", true,
         errorBytes("BAD_REQUEST", "r-9", browserSession)},
        {"another major version",
         R"({"protocolVersion":"2.0","requestId":"r-8",)" + session + R"(,"type":"HELLO"})", false,
         errorBytes("UNSUPPORTED_VERSION", "r-8", otherSession)},
        {"bad request id, good session",
         R"({"protocolVersion":"1.0","requestId":"r 8",)" + session + R"(,"type":"STATUS"})", false,
         errorBytes("BAD_REQUEST", "unparsed", otherSession)},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        SessionHarness harness;
        if (item.bindFirst) {
            harness.bind();
        }
        EXPECT_THAT(harness.sendRaw(item.body), ElementsAre(item.expected));
    }
}

TEST(HostSessionBinding, FollowsTheBindingTable) {
    struct Case {
        const char* name;
        bool bindFirst;
        std::string type;
        SessionID sender;
        std::string expected;  // reply type or error code
        SessionID envelope;    // session the reply names
    };
    const std::vector<Case> cases = {
        {"unbound, HELLO", false, "HELLO", browserSession, "HELLO_OK", browserSession},
        {"unbound, STATUS", false, "STATUS", otherSession, "NOT_READY", otherSession},
        {"unbound, RELEASE", false, "RELEASE", browserSession, "NOT_READY", browserSession},
        {"bound, HELLO again", true, "HELLO", browserSession, "HELLO_OK", browserSession},
        {"bound, HELLO from another id", true, "HELLO", otherSession, "STALE", browserSession},
        {"bound, HELLO from another epoch", true, "HELLO", otherEpoch, "STALE", browserSession},
        {"bound, STATUS from another session", true, "STATUS", otherSession, "STALE",
         browserSession},
        {"bound, STATUS from the session", true, "STATUS", browserSession, "STATUS",
         browserSession},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        SessionHarness harness;
        if (item.bindFirst) {
            harness.bind();
        }
        boost::json::object request = item.type == "HELLO"
                                          ? harness.helloRequest(item.sender)
                                          : harness.request(item.type, item.sender);
        if (item.type == "RELEASE") {
            request["preparedId"] = std::string(32, 'a');
        }
        const boost::json::object reply = harness.send(request);
        EXPECT_EQ(codeOf(reply), item.expected);
        EXPECT_EQ(sessionOf(reply), item.envelope);
        EXPECT_EQ(reply.at("requestId"), request.at("requestId"));
        const bool expectBound = item.bindFirst || item.expected == "HELLO_OK";
        EXPECT_EQ(harness.session.bound(),
                  expectBound ? std::optional<SessionID>(browserSession) : std::nullopt);
    }
}

TEST(HostSessionRequestIds, RejectedRequestsAreNotRememberedAndRepeatsAreRefused) {
    SessionHarness harness;
    boost::json::object early = harness.request("STATUS");
    EXPECT_EQ(codeOf(harness.send(early)), "NOT_READY");
    boost::json::object stale = harness.request("STATUS", otherSession);
    harness.bind();
    EXPECT_EQ(codeOf(harness.send(stale)), "STALE");

    EXPECT_EQ(codeOf(harness.send(early)), "STATUS");
    stale["session"] = {{"id", browserSession.id}, {"epoch", browserSession.epoch}};
    EXPECT_EQ(codeOf(harness.send(stale)), "STATUS");
    EXPECT_EQ(codeOf(harness.send(early)), "DUPLICATE_REQUEST");

    boost::json::object hello = harness.helloRequest();
    EXPECT_EQ(codeOf(harness.send(hello)), "HELLO_OK");
    EXPECT_EQ(codeOf(harness.send(hello)), "DUPLICATE_REQUEST");
}

TEST(HostSessionRequestIds, TheOldestIdIsForgottenOneBeyondTheMemory) {
    Limits limits = Limits::standard();
    limits.requestIdMemory = 4;
    SessionHarness harness(limits);
    const boost::json::object hello = harness.helloRequest();
    ASSERT_EQ(codeOf(harness.send(hello)), "HELLO_OK");
    for (int index = 0; index < 3; ++index) {
        ASSERT_EQ(codeOf(harness.send(harness.request("STATUS"))), "STATUS");
    }
    // Exactly requestIdMemory ids remembered: the oldest is still among them.
    EXPECT_EQ(codeOf(harness.send(hello)), "DUPLICATE_REQUEST");
    const boost::json::object fifth = harness.request("STATUS");
    EXPECT_EQ(codeOf(harness.send(fifth)), "STATUS");
    EXPECT_EQ(codeOf(harness.send(hello)), "HELLO_OK");
    EXPECT_EQ(codeOf(harness.send(fifth)), "DUPLICATE_REQUEST");
}

TEST(HostSessionReplies, HelloAndStatusHaveTheirExactBytes) {
    SessionHarness harness;
    const boost::json::object hello = harness.helloRequest();
    EXPECT_THAT(
        harness.sendRaw(boost::json::serialize(hello)),
        ElementsAre(
            R"({"capabilities":["drag-takeover-1","multi-clip-drag-1","audio-clip-1"],"helperVersion":"0.1.0","platform":{"arch":"arm64","os":"macOS","version":"15.1.0"},"protocolVersion":"1.0","requestId":"req-1","session":{"epoch":7,"id":"browserSession01xyz"},"type":"HELLO_OK"})"));

    harness.prepare("clip-a", 1, makeClip());
    EXPECT_THAT(
        harness.sendRaw(boost::json::serialize(harness.request("STATUS"))),
        ElementsAre(
            R"({"armed":false,"cache":{"bytes":30,"entries":1},"helperVersion":"0.1.0","preparations":1,"protocolVersion":"1.0","requestId":"req-3","session":{"epoch":7,"id":"browserSession01xyz"},"type":"STATUS"})"));
}

TEST(HostSessionReplies, HelloReportsThePlatformItRunsOn) {
    SessionHarness harness(Limits::standard(), {"6.1.0", "x86_64", "Linux"});
    const boost::json::object reply = harness.send(harness.helloRequest());
    EXPECT_EQ(boost::json::serialize(reply.at("platform")),
              R"({"arch":"x86_64","os":"Linux","version":"6.1.0"})");
}

TEST(HostSessionPrepare, StoresTheClipUnderItsSafeNameAndAnswersPrepared) {
    SessionHarness harness;
    harness.bind();
    const Clip clip = makeClip(3);
    harness.random.script(std::vector<std::uint8_t>(16, 0xab));
    const boost::json::object request =
        harness.prepareRequest("clip-a", 9007199254740991, clip, "a/b/My Song: Verse?.MIDI");
    const std::string preparedId = "abababababababababababababababab";
    ASSERT_THAT(
        harness.sendRaw(boost::json::serialize(request)),
        ElementsAre(
            R"({"byteLength":30,"clipId":"clip-a","fileName":"My Song- Verse-.mid","generation":9007199254740991,"preparedId":")" +
            preparedId +
            R"(","protocolVersion":"1.0","requestId":"req-2","session":{"epoch":7,"id":"browserSession01xyz"},"sha256":")" +
            clip.sha256 + R"(","type":"PREPARED"})"));
    const std::string directory = harness.entryDirectory(preparedId);
    EXPECT_EQ(testing::readFileText(directory + "/My Song- Verse-.mid"),
              std::string(clip.bytes.begin(), clip.bytes.end()));
    EXPECT_EQ(harness.record(preparedId).at("state"), "prepared");
    EXPECT_EQ(harness.session.preparations().size(), 1u);
}

TEST(HostSessionPrepare, RefusedClipsLeaveNothingInTheCache) {
    const Clip clip = makeClip();
    std::vector<std::uint8_t> notMIDI = clip.bytes;
    notMIDI[0] = 'X';
    std::vector<std::uint8_t> shorter(clip.bytes.begin(), clip.bytes.end() - 1);
    // 29 bytes end in one "=" whose last data character carries 4 bits; setting a padding bit
    // keeps the alphabet and the length but is not canonical base64.
    std::string paddingBits = Base64::encode(shorter);
    paddingBits[paddingBits.size() - 2] = 'B';

    struct Case {
        const char* name;
        std::string base64;
        std::string sha256;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"non-canonical base64", paddingBits, clip.sha256, "BAD_REQUEST"},
        {"one byte short", Base64::encode(shorter), clip.sha256, "LENGTH_MISMATCH"},
        {"another hash", clip.base64, std::string(64, '0'), "HASH_MISMATCH"},
        {"not a MIDI file", Base64::encode(notMIDI), Hashing::sha256Hex(notMIDI), "NOT_MIDI"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        SessionHarness harness;
        harness.bind();
        boost::json::object request = harness.prepareRequest("clip-a", 1, clip);
        request["midiBase64"] = item.base64;
        request["sha256"] = item.sha256;
        EXPECT_EQ(codeOf(harness.send(request)), item.expected);
        EXPECT_TRUE(std::filesystem::is_empty(harness.cache.entriesDirectory()));
        EXPECT_TRUE(harness.session.preparations().empty());
    }
}

TEST(HostSessionPrepare, CacheFailuresAreLoggedAndAnswered) {
    struct Case {
        const char* name;
        std::int64_t cacheMaxEntries;
        std::function<void(SessionHarness&)> before;
        std::string logged;
        std::string code;
        std::size_t preparations;  // left once the refused clip is answered
    };
    const std::vector<Case> cases = {
        {"full", 1, [](SessionHarness& harness) { harness.prepare("clip-a", 1, makeClip(1)); },
         "quenra-native-host: cache-full\n", "CACHE_FULL", 1},
        {"entries folder is a file", Limits::standard().cacheMaxEntries,
         [](SessionHarness& harness) {
             std::filesystem::remove_all(harness.cache.entriesDirectory());
             testing::writeFileText(harness.cache.entriesDirectory(), "not a directory");
         },
         "quenra-native-host: cache-write-failed\nquenra-native-host: internal-error\n", "INTERNAL",
         0},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        Limits limits = Limits::standard();
        limits.cacheMaxEntries = item.cacheMaxEntries;
        SessionHarness harness(limits);
        harness.bind();
        item.before(harness);
        const auto [reply, log] =
            harness.sendLogged(harness.prepareRequest("clip-b", 1, makeClip(2)));
        EXPECT_EQ(log, item.logged);
        EXPECT_EQ(codeOf(reply), item.code);
        EXPECT_EQ(harness.session.preparations().size(), item.preparations);
    }
}

TEST(HostSessionRateWindow, AnAttemptExactlyOneWindowOldHasLeftIt) {
    Limits limits = Limits::standard();
    limits.prepareBurst = 3;
    SessionHarness harness(limits);
    harness.bind();
    harness.clock.setMonotonic(1000.0);
    harness.prepare("clip-a", 1, makeClip(1));
    boost::json::object notMIDI = harness.prepareRequest("clip-b", 1, makeClip(2));
    notMIDI["sha256"] = std::string(64, 'f');
    EXPECT_EQ(codeOf(harness.send(notMIDI)), "HASH_MISMATCH");  // still counted
    harness.clock.setMonotonic(1001.0);
    harness.prepare("clip-c", 1, makeClip(3));

    harness.clock.setMonotonic(1001.999);
    EXPECT_EQ(codeOf(harness.send(harness.prepareRequest("clip-d", 1, makeClip(4)))),
              "RATE_LIMITED");
    // The two attempts at 1000 are now exactly rateWindow old; the refused one was not counted.
    harness.clock.setMonotonic(1002.0);
    harness.prepare("clip-d", 1, makeClip(4));
    harness.prepare("clip-e", 1, makeClip(5));
    EXPECT_EQ(codeOf(harness.send(harness.prepareRequest("clip-f", 1, makeClip(6)))),
              "RATE_LIMITED");
}

TEST(HostSessionRateWindow, BytesInTheWindowMayReachTheBurstLimitExactly) {
    Limits limits = Limits::standard();
    limits.prepareBurstBytes = 60;  // two 30-byte clips
    SessionHarness harness(limits);
    harness.bind();
    harness.prepare("clip-a", 1, makeClip(1));
    harness.prepare("clip-b", 1, makeClip(2));
    EXPECT_EQ(codeOf(harness.send(harness.prepareRequest("clip-c", 1, makeClip(3)))),
              "RATE_LIMITED");
    harness.clock.advanceMonotonic(limits.rateWindow);
    harness.prepare("clip-c", 1, makeClip(3));
}

TEST(HostSessionSupersede, AHigherGenerationReplacesTheLowerButNotTheReverse) {
    SessionHarness harness;
    harness.bind();
    const boost::json::object first = harness.prepare("clip-a", 1, makeClip(1));
    const boost::json::object other = harness.prepare("clip-b", 1, makeClip(9));
    const boost::json::object second = harness.prepare("clip-a", 2, makeClip(2));
    const std::string firstId(first.at("preparedId").as_string());
    EXPECT_FALSE(exists(harness.entryDirectory(firstId)));
    EXPECT_FALSE(harness.session.preparations().contains(firstId));
    EXPECT_EQ(harness.session.preparations().size(), 2u);

    // A late lower generation is stored beside the higher one.
    const boost::json::object late = harness.prepare("clip-a", 1, makeClip(3));
    const auto listed = [&](const boost::json::object& prepared) {
        const std::string id(prepared.at("preparedId").as_string());
        return harness.session.preparations().contains(id) && exists(harness.entryDirectory(id));
    };
    EXPECT_TRUE(listed(second));
    EXPECT_TRUE(listed(late));
    // An equal generation stays beside its twin, and removes the lower one.
    const boost::json::object equal = harness.prepare("clip-a", 2, makeClip(4));
    EXPECT_TRUE(listed(second));
    EXPECT_TRUE(listed(equal));
    EXPECT_TRUE(listed(other));
    EXPECT_FALSE(listed(late));
    EXPECT_EQ(harness.send(harness.request("STATUS")).at("preparations"), 3);
}

TEST(HostSessionSupersede, SupersedingTheArmedClipEndsItsDragAndDeletesIt) {
    SessionHarness harness;
    harness.bind();
    const boost::json::object first = harness.prepare("clip-a", 1, makeClip(1));
    harness.arm(first);
    ASSERT_TRUE(harness.session.isWatching());
    harness.prepare("clip-a", 2, makeClip(2));
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_FALSE(exists(harness.entryDirectory(std::string(first.at("preparedId").as_string()))));
    EXPECT_TRUE(harness.session.tick().empty());
    EXPECT_TRUE(ArmLease::acquire(harness.cache.armLockURL()).has_value());
}

TEST(HostSessionRelease, ForgetsByTheEntryState) {
    SessionHarness harness;
    harness.bind();
    const boost::json::object unknown = harness.request("RELEASE");
    boost::json::object request = unknown;
    request["preparedId"] = std::string(32, 'e');
    EXPECT_THAT(
        harness.sendRaw(boost::json::serialize(request)),
        ElementsAre(
            R"({"preparedId":"eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee","protocolVersion":"1.0","requestId":"req-2","session":{"epoch":7,"id":"browserSession01xyz"},"type":"RELEASED"})"));

    const boost::json::object prepared = harness.prepare("clip-a", 1, makeClip(1));
    const boost::json::object armed = harness.prepare("clip-b", 1, makeClip(2));
    const std::string preparedId(prepared.at("preparedId").as_string());
    const std::string armedId(armed.at("preparedId").as_string());
    harness.arm(armed);

    for (const std::string& id : {preparedId, armedId}) {
        boost::json::object release = harness.request("RELEASE");
        release["preparedId"] = id;
        EXPECT_EQ(harness.send(release).at("type"), "RELEASED");
    }
    // Both were prepared when released (the armed one is disarmed first), so both are gone.
    EXPECT_FALSE(exists(harness.entryDirectory(preparedId)));
    EXPECT_FALSE(exists(harness.entryDirectory(armedId)));
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_TRUE(harness.session.preparations().empty());
}

TEST(HostSessionShutdown, EndsTheDragAndDeletesThePreparedClip) {
    SessionHarness harness;
    harness.bind();
    const boost::json::object prepared = harness.prepare("clip-a", 1, makeClip(1));
    const std::string id(prepared.at("preparedId").as_string());
    harness.arm(prepared);
    ASSERT_TRUE(harness.session.tick().empty());
    ASSERT_EQ(harness.record(id).at("state"), "armed");

    harness.session.shutdown();
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_FALSE(exists(harness.entryDirectory(id)));
    EXPECT_TRUE(harness.session.preparations().empty());
    EXPECT_TRUE(ArmLease::acquire(harness.cache.armLockURL()).has_value());
    EXPECT_EQ(harness.session.bound(), browserSession);
}

TEST(HostSessionCancel, OnlyItsOwnTokenEndsTheDrag) {
    SessionHarness harness;
    harness.bind();
    const boost::json::object prepared = harness.prepare("clip-a", 1, makeClip(1));
    const std::string id(prepared.at("preparedId").as_string());
    const boost::json::object armed = harness.arm(prepared);
    const std::string token(armed.at("token").as_string());

    boost::json::object wrong = harness.request("CANCEL");
    wrong["token"] = std::string(22, 'x');
    EXPECT_THAT(
        harness.sendRaw(boost::json::serialize(wrong)),
        ElementsAre(
            R"({"protocolVersion":"1.0","requestId":"req-4","session":{"epoch":7,"id":"browserSession01xyz"},"token":"xxxxxxxxxxxxxxxxxxxxxx","type":"CANCELLED","wasActive":false})"));
    EXPECT_TRUE(harness.session.isWatching());

    boost::json::object right = harness.request("CANCEL");
    right["token"] = token;
    EXPECT_EQ(harness.send(right).at("wasActive"), true);
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_TRUE(harness.session.tick().empty());
    EXPECT_EQ(harness.record(id).at("state"), "prepared");
    EXPECT_FALSE(harness.record(id).contains("retainUntil"));
}

// The session belongs to the thread that made it; a call from any other ends the process.
TEST(HostSessionDeathTest, IsUsedOnlyOnTheThreadThatMadeIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SessionHarness harness;
    EXPECT_DEATH(testing::onAnotherThread([&] { harness.session.tick(); }),
                 "thread-check-failed: .*HostSession::tick.* called on a thread that does not own");
    EXPECT_DEATH(testing::onAnotherThread([&] { (void)harness.session.isWatching(); }),
                 "thread-check-failed: .*HostSession::isWatching");
}

}  // namespace
}  // namespace quenra
