// Arming, re-arming and the events of the takeover, driven through the session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <filesystem>

#include "bridge_core/host_session.h"
#include "support/child_process.h"
#include "support/session_harness.h"

namespace quenra {
namespace {

using ::testing::ElementsAre;
using testing::makeClip;
using testing::SessionHarness;

const std::string tokenText = "-_v7-_v7-_v7-_v7-_v7-w";  // 16 bytes of 0xfb
const std::string envelope =
    R"("protocolVersion":"1.0","session":{"epoch":7,"id":"browserSession01xyz"})";

std::string codeOf(const boost::json::object& reply) {
    if (reply.at("type") != "ERROR") {
        return std::string(reply.at("type").as_string());
    }
    return std::string(reply.at("code").as_string());
}

std::string idOf(const boost::json::object& reply) {
    return std::string(reply.at("preparedId").as_string());
}

// Makes the next record rewrite fail: its temporary name is drawn from 8 scripted bytes and
// a file of that name is already there.
void failNextRecordWrite(SessionHarness& harness, const std::string& preparedId) {
    harness.random.script(std::vector<std::uint8_t>(8, 0x5a));
    testing::writeFileText(harness.entryDirectory(preparedId) + "/.entry.json.5a5a5a5a5a5a5a5a",
                           "");
}

struct DragFixture {
    DragFixture() {
        harness.bind();
        harness.clock.setMonotonic(1000.0);
        harness.clock.setWall(1'750'000'000.0);
        prepared = harness.prepare("clip-a", 3, makeClip(1));
        preparedId = idOf(prepared);
    }

    boost::json::object armWithToken() {
        harness.random.script(std::vector<std::uint8_t>(8, 0x01));  // record temporary
        harness.random.script(std::vector<std::uint8_t>(16, 0xfb));
        return harness.arm(prepared);
    }

    std::string marker() const { return harness.session.armed()->marker; }

    bool leaseIsFree() { return ArmLease::acquire(harness.cache.armLockURL()).has_value(); }

    SessionHarness harness;
    boost::json::object prepared;
    std::string preparedId;
};

TEST(HostSessionArm, AnswersArmedAndMarksTheRecord) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    harness.random.script(std::vector<std::uint8_t>(8, 0x01));
    harness.random.script(std::vector<std::uint8_t>(16, 0xfb));
    ::testing::internal::CaptureStderr();
    const std::vector<std::string> replies =
        harness.sendRaw(boost::json::serialize(harness.armRequest(fixture.prepared)));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "quenra-native-host: armed\n");
    EXPECT_THAT(
        replies,
        ElementsAre(
            R"({"clipId":"clip-a","generation":3,"leaseMs":10000,"marker":"QNR_DAW_DRAG/v1/browserSession01/)" +
            tokenText + R"(","preparedId":")" + fixture.preparedId +
            R"(","protocolVersion":"1.0","requestId":"req-3","session":{"epoch":7,"id":"browserSession01xyz"},"token":")" +
            tokenText + R"(","type":"ARMED"})"));
    EXPECT_TRUE(harness.session.isWatching());
    EXPECT_FALSE(fixture.leaseIsFree());
    const boost::json::object record = harness.record(fixture.preparedId);
    EXPECT_EQ(record.at("state"), "armed");
    EXPECT_EQ(record.at("retainUntil").to_number<double>(), 1'750'000'000.0 + 86400.0);
}

TEST(HostSessionArm, RefusesWhatDoesNotMatchAPreparation) {
    struct Case {
        const char* name;
        const char* key;
        boost::json::value value;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"released prepared id", nullptr, boost::json::value(), "UNKNOWN_PREPARED"},
        {"unknown prepared id", "preparedId", boost::json::value(std::string(32, '0')),
         "UNKNOWN_PREPARED"},
        {"another generation", "generation", boost::json::value(2), "STALE"},
        {"another clip", "clipId", boost::json::value("clip-b"), "STALE"},
        {"another hash", "sha256", boost::json::value(std::string(64, 'c')), "STALE"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        DragFixture fixture;
        SessionHarness& harness = fixture.harness;
        boost::json::object request = harness.armRequest(fixture.prepared);
        if (item.key == nullptr) {
            boost::json::object release = harness.request("RELEASE");
            release["preparedId"] = fixture.preparedId;
            ASSERT_EQ(codeOf(harness.send(release)), "RELEASED");
        } else {
            request[item.key] = item.value;
        }
        EXPECT_EQ(codeOf(harness.send(request)), item.expected);
        EXPECT_FALSE(harness.session.isWatching());
        EXPECT_TRUE(fixture.leaseIsFree());
    }
}

TEST(HostSessionArm, ArmingTheSamePreparationAgainKeepsTheTokenAndPushesTheDeadline) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    const boost::json::object first = fixture.armWithToken();
    harness.clock.setMonotonic(1008.0);
    const boost::json::object second = harness.arm(fixture.prepared);
    EXPECT_EQ(second.at("token"), first.at("token"));
    EXPECT_EQ(second.at("marker"), first.at("marker"));
    EXPECT_EQ(harness.session.armed()->deadline, 1018.0);

    harness.clock.setMonotonic(1017.5);
    EXPECT_TRUE(harness.session.tick().empty());
    harness.clock.setMonotonic(1018.0);
    EXPECT_THAT(harness.session.tick(), ElementsAre(R"({)" + envelope + R"(,"token":")" +
                                                    tokenText + R"(","type":"EXPIRED"})"));
}

TEST(HostSessionArm, ArmingAnotherClipEndsTheFirstSilently) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    fixture.armWithToken();
    const boost::json::object other = harness.prepare("clip-b", 1, makeClip(2));
    const boost::json::object armed = harness.arm(other);
    EXPECT_NE(armed.at("token"), boost::json::value(tokenText));
    EXPECT_EQ(harness.session.armed()->clip.entry->preparedId(), idOf(other));
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "prepared");
    EXPECT_FALSE(harness.record(fixture.preparedId).contains("retainUntil"));
    EXPECT_EQ(harness.record(idOf(other)).at("state"), "armed");
    EXPECT_TRUE(harness.session.tick().empty());
}

TEST(HostSessionArm, AnotherHolderOfTheArmLockMakesItBusy) {
    struct Case {
        const char* name;
        bool otherProcess;
    };
    for (const Case& item :
         {Case{"a second open in this process", false}, Case{"another process", true}}) {
        SCOPED_TRACE(item.name);
        DragFixture fixture;
        SessionHarness& harness = fixture.harness;
        const std::string path = harness.cache.armLockURL();
        std::optional<ArmLease> local;
        std::optional<testing::ChildProcess> child;
        testing::ProcessSignal held;
        testing::ProcessSignal finish;
        if (item.otherProcess) {
            child = testing::ChildProcess::start([&] {
                held.becomeNotifier();
                finish.becomeWaiter();
                std::optional<ArmLease> lease = ArmLease::acquire(path);
                held.notify();
                finish.wait();
                return lease ? 0 : 1;
            });
            held.becomeWaiter();
            finish.becomeNotifier();
            ASSERT_TRUE(held.wait());
        } else {
            local = ArmLease::acquire(path);
            ASSERT_TRUE(local.has_value());
        }

        ::testing::internal::CaptureStderr();
        const boost::json::object reply = harness.send(harness.armRequest(fixture.prepared));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "quenra-native-host: busy\n");
        EXPECT_EQ(codeOf(reply), "BUSY");
        EXPECT_FALSE(harness.session.isWatching());
        EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "prepared");
        if (child) {
            finish.notify();
            EXPECT_EQ(child->wait(), 0);
        }
        local.reset();
        harness.arm(fixture.prepared);
    }
}

TEST(HostSessionArm, InternalFailuresLeaveNothingArmed) {
    {
        DragFixture fixture;
        std::filesystem::create_symlink(fixture.harness.folder.join("elsewhere"),
                                        fixture.harness.cache.armLockURL());
        ::testing::internal::CaptureStderr();
        const boost::json::object reply =
            fixture.harness.send(fixture.harness.armRequest(fixture.prepared));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "quenra-native-host: lease-unavailable\nquenra-native-host: internal-error\n");
        EXPECT_EQ(codeOf(reply), "INTERNAL");
        EXPECT_FALSE(fixture.harness.session.isWatching());
    }
    {
        DragFixture fixture;
        const std::string before = fixture.harness.recordText(fixture.preparedId);
        failNextRecordWrite(fixture.harness, fixture.preparedId);
        ::testing::internal::CaptureStderr();
        const boost::json::object reply =
            fixture.harness.send(fixture.harness.armRequest(fixture.prepared));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "quenra-native-host: record-arm-failed\nquenra-native-host: internal-error\n");
        EXPECT_EQ(codeOf(reply), "INTERNAL");
        EXPECT_FALSE(fixture.harness.session.isWatching());
        EXPECT_TRUE(fixture.leaseIsFree());
        EXPECT_EQ(fixture.harness.recordText(fixture.preparedId), before);
    }
}

TEST(HostSessionTick, EachOutcomeSendsItsEventAndLeavesItsRecordState) {
    struct Case {
        const char* name;
        std::function<void(DragFixture&)> act;
        std::string event;  // after the envelope and before the token
        std::string logged;
        std::string state;
        std::optional<double> retainUntil;
    };
    const double armedAt = 1'750'000'000.0;
    const double publishedAt = armedAt + 5;
    const std::vector<Case> cases = {
        {"expired", [](DragFixture& fixture) { fixture.harness.clock.setMonotonic(1010.0); },
         R"({)" + envelope + R"(,"token":")" + tokenText + R"(","type":"EXPIRED"})", "expired",
         "prepared", std::nullopt},
        {"published",
         [](DragFixture& fixture) { fixture.harness.board.beginChromeDrag(fixture.marker()); },
         R"({"generation":3,"preparedId":"PREPARED",)" + envelope + R"(,"token":")" + tokenText +
             R"(","type":"PUBLISHED"})",
         "published", "published", publishedAt + 86400},
        {"clip file changed",
         [](DragFixture& fixture) {
             std::filesystem::resize_file(fixture.harness.session.armed()->clip.entry->fileURL(),
                                          3);
             fixture.harness.board.beginChromeDrag(fixture.marker());
         },
         R"({"code":"INTERNAL",)" + envelope + R"(,"token":")" + tokenText +
             R"(","type":"DRAG_FAILED"})",
         "drag-failed", "armed", armedAt + 86400},
        {"claim not confirmed",
         [](DragFixture& fixture) {
             fixture.harness.board.claimScript.filenamesWritten = false;
             fixture.harness.board.beginChromeDrag(fixture.marker());
         },
         R"({"code":"INTERNAL",)" + envelope + R"(,"token":")" + tokenText +
             R"(","type":"DRAG_FAILED"})",
         "drag-failed", "armed", armedAt + 86400},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        DragFixture fixture;
        SessionHarness& harness = fixture.harness;
        fixture.armWithToken();
        harness.clock.setWall(publishedAt);
        EXPECT_TRUE(harness.session.tick().empty());
        item.act(fixture);
        ::testing::internal::CaptureStderr();
        const std::vector<std::string> events = harness.session.tick();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "quenra-native-host: " + item.logged + "\n");
        std::string expected = item.event;
        if (const std::size_t at = expected.find("PREPARED\""); at != std::string::npos) {
            expected.replace(at, 8, fixture.preparedId);
        }
        EXPECT_THAT(events, ElementsAre(expected));

        EXPECT_FALSE(harness.session.isWatching());
        EXPECT_TRUE(fixture.leaseIsFree());
        EXPECT_TRUE(harness.session.tick().empty());
        const boost::json::object record = harness.record(fixture.preparedId);
        EXPECT_EQ(record.at("state"), boost::json::value(item.state));
        if (item.retainUntil) {
            EXPECT_EQ(record.at("retainUntil").to_number<double>(), *item.retainUntil);
        } else {
            EXPECT_FALSE(record.contains("retainUntil"));
        }
        // The preparation outlives its drag until it is released.
        const boost::json::object status = harness.send(harness.request("STATUS"));
        EXPECT_EQ(status.at("preparations"), 1);
        EXPECT_EQ(status.at("armed"), false);
    }
}

TEST(HostSessionTick, APublicationWhoseRecordCannotBeWrittenIsStillReported) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    fixture.armWithToken();
    harness.board.beginChromeDrag(fixture.marker());
    failNextRecordWrite(harness, fixture.preparedId);
    ::testing::internal::CaptureStderr();
    const std::vector<std::string> events = harness.session.tick();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "quenra-native-host: record-publication-failed\nquenra-native-host: published\n");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(boost::json::parse(events[0]).at("type"), "PUBLISHED");
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "armed");
}

TEST(HostSessionTick, ADisarmWhoseRecordCannotBeWrittenStillEndsTheDrag) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    fixture.armWithToken();
    failNextRecordWrite(harness, fixture.preparedId);
    boost::json::object cancel = harness.request("CANCEL");
    cancel["token"] = tokenText;
    ::testing::internal::CaptureStderr();
    const boost::json::object reply = harness.send(cancel);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "quenra-native-host: record-unarm-failed\n");
    EXPECT_EQ(reply.at("wasActive"), true);
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_TRUE(fixture.leaseIsFree());
    // Still armed on disk, so giving it up keeps it for its retention instead of deleting it.
    harness.session.shutdown();
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "armed");
}

TEST(HostSessionTick, ReArmingAPublishedClipKeepsItPublishedAndItsLaterRetention) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    fixture.armWithToken();
    harness.board.beginChromeDrag(fixture.marker());
    ASSERT_EQ(harness.session.tick().size(), 1u);
    const double published =
        harness.record(fixture.preparedId).at("retainUntil").to_number<double>();

    harness.clock.setWall(1'749'000'000.0);  // an earlier wall time gives a smaller retention
    harness.clock.setMonotonic(2000.0);
    harness.arm(fixture.prepared);
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "published");
    EXPECT_EQ(harness.record(fixture.preparedId).at("retainUntil").to_number<double>(), published);

    harness.clock.setMonotonic(2010.0);
    ASSERT_EQ(harness.session.tick().size(), 1u);  // EXPIRED
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "published");

    // Giving the connection up keeps a published clip on disk.
    harness.session.shutdown();
    EXPECT_TRUE(std::filesystem::exists(harness.entryDirectory(fixture.preparedId)));
    EXPECT_TRUE(harness.session.preparations().empty());
}

}  // namespace
}  // namespace quenra
