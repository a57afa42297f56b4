// Arming, re-arming and the events of the takeover, driven through the session.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <filesystem>
#include <functional>
#include <limits>

#include "bridge_core/host_session.h"
#include "support/child_process.h"
#include "support/directory_listing.h"
#include "support/read_request.h"
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
    // armWithToken, then what follows ARMED: the armed record put in place.
    void armAndPlaceTheRecord() {
        armWithToken();
        EXPECT_TRUE(harness.session.settle().empty());
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
    // The record moves once ARMED is out, before anything can claim the file.
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "prepared");
    EXPECT_TRUE(harness.session.settle().empty());
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
    fixture.armAndPlaceTheRecord();
    const boost::json::object other = harness.prepare("clip-b", 1, makeClip(2));
    const boost::json::object armed = harness.arm(other);
    EXPECT_NE(armed.at("token"), boost::json::value(tokenText));
    EXPECT_EQ(harness.session.armed()->clips.front().entry->preparedId(), idOf(other));
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "prepared");
    EXPECT_FALSE(harness.record(fixture.preparedId).contains("retainUntil"));
    EXPECT_TRUE(harness.session.tick().empty());
    EXPECT_EQ(harness.record(idOf(other)).at("state"), "armed");
}

TEST(HostSessionArm, ASwitchMovesTheLeaseAndOneThatFailsLeavesNothingArmed) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    fixture.armAndPlaceTheRecord();
    const boost::json::object other = harness.prepare("clip-b", 1, makeClip(2));
    // Nothing can take the lock file afresh any more: only the held lease can serve the switch.
    const std::string lock = harness.cache.armLockURL();
    std::filesystem::rename(lock, lock + ".moved");
    std::filesystem::create_symlink(lock + ".moved", lock);
    EXPECT_EQ(harness.arm(other).at("type"), "ARMED");
    EXPECT_TRUE(harness.session.tick().empty());
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "prepared");

    // Switching back fails at the record: the drag that was armed ends all the same, and the
    // new one fails before any poll.
    const std::string before = harness.recordText(fixture.preparedId);
    harness.random.script(std::vector<std::uint8_t>(8, 0x02));  // the other record put back
    failNextRecordWrite(harness, fixture.preparedId);
    const auto [reply, log] = harness.sendLogged(harness.armRequest(fixture.prepared));
    EXPECT_EQ(reply.at("type"), "ARMED");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(harness.session.settle().size(), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "quenra-native-host: record-arm-failed\nquenra-native-host: drag-failed\n");
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_EQ(harness.recordText(fixture.preparedId), before);
    EXPECT_EQ(harness.record(idOf(other)).at("state"), "prepared");
    EXPECT_TRUE(harness.session.tick().empty());
    std::filesystem::remove(lock);
    std::filesystem::rename(lock + ".moved", lock);
    EXPECT_TRUE(fixture.leaseIsFree());
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

        const auto [reply, log] = harness.sendLogged(harness.armRequest(fixture.prepared));
        EXPECT_EQ(log, "quenra-native-host: busy\n");
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
    struct Case {
        const char* name;
        std::function<void(DragFixture&)> breakArm;
        std::string failure;  // logged before "internal-error"
        bool leaseUsable;     // whether the lease's lock file can be taken afterwards
    };
    const std::vector<Case> cases = {
        {"the lease's lock is a link",
         [](DragFixture& fixture) {
             std::filesystem::create_symlink(fixture.harness.folder.join("elsewhere"),
                                             fixture.harness.cache.armLockURL());
         },
         "lease-unavailable", false},
        {"a time that JSON cannot hold",
         [](DragFixture& fixture) {
             fixture.harness.clock.setWall(std::numeric_limits<double>::infinity());
         },
         "record-arm-failed", true},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        DragFixture fixture;
        SessionHarness& harness = fixture.harness;
        const std::string before = harness.recordText(fixture.preparedId);
        item.breakArm(fixture);
        const auto [reply, log] = harness.sendLogged(harness.armRequest(fixture.prepared));
        EXPECT_EQ(log,
                  "quenra-native-host: " + item.failure + "\nquenra-native-host: internal-error\n");
        EXPECT_EQ(codeOf(reply), "INTERNAL");
        EXPECT_FALSE(harness.session.isWatching());
        EXPECT_EQ(harness.recordText(fixture.preparedId), before);
        if (item.leaseUsable) {
            EXPECT_TRUE(fixture.leaseIsFree());
        }
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
             std::filesystem::resize_file(
                 fixture.harness.session.armed()->clips.front().entry->fileURL(), 3);
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

// The armed record reaches its place once ARMED is out, before the pasteboard is read: one that
// cannot be put there fails the drag, and no file is offered. A drag ended before that leaves the
// record exactly as it was.
TEST(HostSessionTick, AnArmedRecordThatCannotBePlacedFailsTheDragBeforeAnyClaim) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    const std::string before = harness.recordText(fixture.preparedId);
    fixture.armWithToken();
    boost::json::object cancel = harness.request("CANCEL");
    cancel["token"] = tokenText;
    EXPECT_EQ(harness.send(cancel).at("wasActive"), true);
    EXPECT_EQ(harness.recordText(fixture.preparedId), before);
    EXPECT_EQ(testing::namesIn(harness.entryDirectory(fixture.preparedId)).size(), 3u);

    fixture.armWithToken();
    const std::string record = harness.entryDirectory(fixture.preparedId) + "/entry.json";
    std::filesystem::remove(record);
    std::filesystem::create_directory(record);
    testing::writeFileText(record + "/inside", "");
    harness.board.beginChromeDrag(fixture.marker());
    ::testing::internal::CaptureStderr();
    const std::vector<std::string> events = harness.session.settle();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "quenra-native-host: record-arm-failed\nquenra-native-host: drag-failed\n");
    EXPECT_THAT(events, ElementsAre(R"({"code":"INTERNAL",)" + envelope + R"(,"token":")" +
                                    tokenText + R"(","type":"DRAG_FAILED"})"));
    EXPECT_TRUE(harness.board.claimedPaths.empty());
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_TRUE(fixture.leaseIsFree());
}

TEST(HostSessionTick, ADisarmWhoseRecordCannotBeWrittenStillEndsTheDrag) {
    DragFixture fixture;
    SessionHarness& harness = fixture.harness;
    fixture.armAndPlaceTheRecord();
    failNextRecordWrite(harness, fixture.preparedId);
    boost::json::object cancel = harness.request("CANCEL");
    cancel["token"] = tokenText;
    const auto [reply, log] = harness.sendLogged(cancel);
    EXPECT_EQ(log, "quenra-native-host: record-unarm-failed\n");
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

// Three prepared clips, for ARMs of a list.
struct ListFixture : DragFixture {
    ListFixture() {
        second = harness.prepare("clip-b", 1, makeClip(2));
        third = harness.prepare("clip-c", 1, makeClip(3));
    }

    boost::json::object listRequest(const std::vector<const boost::json::object*>& clips) {
        boost::json::object request = harness.request("ARM");
        boost::json::array list;
        for (const boost::json::object* clip : clips) {
            boost::json::object element;
            for (const char* key : {"preparedId", "clipId", "generation", "sha256"}) {
                element[key] = clip->at(key);
            }
            list.push_back(std::move(element));
        }
        request["clips"] = std::move(list);
        return request;
    }

    boost::json::object armList(const std::vector<const boost::json::object*>& clips) {
        const boost::json::object reply = harness.send(listRequest(clips));
        EXPECT_EQ(reply.at("type"), "ARMED") << boost::json::serialize(reply);
        return reply;
    }

    boost::json::object second;
    boost::json::object third;
};

TEST(HostSessionArmList, RefusalsArmNothingAndLeaveTheArmedDragAsItWas) {
    using Edit = std::function<void(ListFixture&, boost::json::object & request)>;
    const auto element = [](std::size_t index) {
        return [index](boost::json::object& request) -> boost::json::object& {
            return request["clips"].as_array()[index].as_object();
        };
    };
    struct Case {
        const char* name;
        Edit edit;
        std::string code;
        std::string detail;  // of a BAD_REQUEST
    };
    const std::string shape =
        " must be an object of exactly preparedId, clipId, generation and sha256";
    const std::vector<Case> cases = {
        {"both forms",
         [](ListFixture& f, boost::json::object& r) { r["preparedId"] = f.preparedId; },
         "BAD_REQUEST", "clips cannot come with preparedId, clipId, generation or sha256"},
        {"not an array", [](ListFixture&, boost::json::object& r) { r["clips"] = 2; },
         "BAD_REQUEST", "clips must be an array"},
        {"no clip", [](ListFixture&, boost::json::object& r) { r["clips"].as_array().clear(); },
         "BAD_REQUEST", "clips must hold 2 to 16 clips"},
        {"one clip", [](ListFixture&, boost::json::object& r) { r["clips"].as_array().resize(1); },
         "BAD_REQUEST", "clips must hold 2 to 16 clips"},
        {"17 clips",
         [](ListFixture&, boost::json::object& r) {
             boost::json::array& list = r["clips"].as_array();
             while (list.size() < 17) {
                 boost::json::object clip = list[0].as_object();
                 clip["preparedId"] = std::string(31, 'e') + "0123456789abcdef"[list.size() % 16];
                 list.push_back(std::move(clip));
             }
         },
         "BAD_REQUEST", "clips must hold 2 to 16 clips"},
        {"an element that is not an object",
         [](ListFixture&, boost::json::object& r) { r["clips"].as_array()[1] = "clip-b"; },
         "BAD_REQUEST", "clips[1]" + shape},
        {"a fifth member",
         [element](ListFixture&, boost::json::object& r) { element(1)(r)["token"] = "x"; },
         "BAD_REQUEST", "clips[1]" + shape},
        {"a member missing",
         [element](ListFixture&, boost::json::object& r) { element(2)(r).erase("sha256"); },
         "BAD_REQUEST", "clips[2]" + shape},
        {"a malformed member",
         [element](ListFixture&, boost::json::object& r) { element(1)(r)["generation"] = 0; },
         "BAD_REQUEST", "clips[1]: generation is out of range"},
        {"the same prepared id twice",
         [element](ListFixture&, boost::json::object& r) { element(2)(r) = element(0)(r); },
         "BAD_REQUEST", "clips[2] repeats a preparedId"},
        {"an unknown clip before a stale one",
         [element](ListFixture&, boost::json::object& r) {
             element(1)(r)["preparedId"] = std::string(32, '0');
             element(2)(r)["generation"] = 2;
         },
         "UNKNOWN_PREPARED", ""},
        {"a stale clip before an unknown one",
         [element](ListFixture&, boost::json::object& r) {
             element(1)(r)["sha256"] = std::string(64, 'c');
             element(2)(r)["preparedId"] = std::string(32, '0');
         },
         "STALE", ""},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        ListFixture fixture;
        SessionHarness& harness = fixture.harness;
        const boost::json::object other = harness.prepare("clip-d", 1, makeClip(4));
        const std::string token(harness.arm(other).at("token").as_string());
        const std::vector<const boost::json::object*> all = {&fixture.prepared, &fixture.second,
                                                             &fixture.third, &other};
        std::vector<std::string> records;
        for (const auto* clip : all) {
            records.push_back(harness.recordText(idOf(*clip)));
        }

        boost::json::object request =
            fixture.listRequest({&fixture.prepared, &fixture.second, &fixture.third});
        item.edit(fixture, request);
        EXPECT_EQ(codeOf(harness.send(request)), item.code);
        const ReadRequest read = testing::readRequest(boost::json::serialize(request));
        if (const auto* refused = std::get_if<RefusedRequest>(&read)) {
            EXPECT_EQ(refused->failure.detail, item.detail);
        } else {
            EXPECT_EQ(item.detail, "");
        }

        ASSERT_TRUE(harness.session.isWatching());
        EXPECT_EQ(harness.session.armed()->token, token);
        std::size_t index = 0;
        for (const auto* clip : all) {
            EXPECT_EQ(harness.recordText(idOf(*clip)), records[index++]);
        }
    }
}

TEST(HostSessionArmList, ArmsEveryClipInOrderRenewsTheSameListAndPublishesThemAll) {
    ListFixture fixture;
    SessionHarness& harness = fixture.harness;
    const std::vector<const boost::json::object*> order = {&fixture.third, &fixture.prepared,
                                                           &fixture.second};
    for (const std::uint8_t temporary : {0x01, 0x02, 0x03}) {
        harness.random.script(std::vector<std::uint8_t>(8, temporary));
    }
    harness.random.script(std::vector<std::uint8_t>(16, 0xfb));
    ::testing::internal::CaptureStderr();
    const std::vector<std::string> replies =
        harness.sendRaw(boost::json::serialize(fixture.listRequest(order)));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "quenra-native-host: armed\n");
    EXPECT_THAT(
        replies,
        ElementsAre(
            R"({"clips":[{"clipId":"clip-c","generation":1,"preparedId":")" + idOf(fixture.third) +
            R"("},{"clipId":"clip-a","generation":3,"preparedId":")" + fixture.preparedId +
            R"("},{"clipId":"clip-b","generation":1,"preparedId":")" + idOf(fixture.second) +
            R"("}],"leaseMs":10000,"marker":"QNR_DAW_DRAG/v1/browserSession01/)" + tokenText +
            R"(","protocolVersion":"1.0","requestId":"req-5",)"
            R"("session":{"epoch":7,"id":"browserSession01xyz"},"token":")" +
            tokenText + R"(","type":"ARMED"})"));
    EXPECT_TRUE(harness.session.tick().empty());
    for (const auto* clip : order) {
        EXPECT_EQ(harness.record(idOf(*clip)).at("state"), "armed");
    }

    // The same list again renews the drag; one clip of it alone is another drag.
    harness.clock.setMonotonic(1008.0);
    const boost::json::object again = fixture.armList(order);
    EXPECT_EQ(again.at("token"), boost::json::value(tokenText));
    EXPECT_EQ(again.at("marker"), boost::json::parse(replies.at(0)).at("marker"));
    EXPECT_EQ(harness.session.armed()->deadline, 1018.0);
    const boost::json::object single = harness.arm(fixture.prepared);
    EXPECT_NE(single.at("token"), boost::json::value(tokenText));
    EXPECT_TRUE(harness.session.tick().empty());
    EXPECT_EQ(harness.record(idOf(fixture.third)).at("state"), "prepared");
    EXPECT_EQ(harness.record(fixture.preparedId).at("state"), "armed");

    const std::string token(fixture.armList(order).at("token").as_string());
    harness.board.beginChromeDrag(fixture.marker());
    ::testing::internal::CaptureStderr();
    const std::vector<std::string> events = harness.session.tick();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "quenra-native-host: published\n");
    EXPECT_THAT(events, ElementsAre(R"({"clips":[{"generation":1,"preparedId":")" +
                                    idOf(fixture.third) + R"("},{"generation":3,"preparedId":")" +
                                    fixture.preparedId + R"("},{"generation":1,"preparedId":")" +
                                    idOf(fixture.second) + R"("}],)" + envelope + R"(,"token":")" +
                                    token + R"(","type":"PUBLISHED"})"));
    std::vector<std::string> paths;
    for (const auto* clip : order) {
        EXPECT_EQ(harness.record(idOf(*clip)).at("state"), "published");
        paths.push_back(harness.session.preparations().at(idOf(*clip)).entry->fileURL());
    }
    EXPECT_EQ(harness.board.claimedPaths, paths);
    EXPECT_EQ(harness.board.filenames, paths);

    // Releasing any clip of an armed list ends its drag.
    fixture.armList(order);
    boost::json::object release = harness.request("RELEASE");
    release["preparedId"] = idOf(fixture.second);
    EXPECT_EQ(codeOf(harness.send(release)), "RELEASED");
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_TRUE(fixture.leaseIsFree());
}

TEST(HostSessionArmList, ARecordThatCannotBeWrittenFailsTheDragAndArmsNone) {
    ListFixture fixture;
    SessionHarness& harness = fixture.harness;
    const std::vector<const boost::json::object*> order = {&fixture.prepared, &fixture.second,
                                                           &fixture.third};
    std::vector<std::string> before;
    for (const auto* clip : order) {
        before.push_back(harness.recordText(idOf(*clip)));
    }
    harness.random.script(std::vector<std::uint8_t>(8, 0x01));
    harness.random.script(std::vector<std::uint8_t>(8, 0x02));
    failNextRecordWrite(harness, idOf(fixture.third));
    EXPECT_EQ(harness.sendLogged(fixture.listRequest(order)).reply.at("type"), "ARMED");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(harness.session.settle().size(), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "quenra-native-host: record-arm-failed\nquenra-native-host: drag-failed\n");
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_TRUE(fixture.leaseIsFree());
    for (std::size_t index = 0; index < order.size(); ++index) {
        const boost::json::object record = harness.record(idOf(*order[index]));
        EXPECT_EQ(record.at("state"), "prepared");
        EXPECT_FALSE(record.contains("retainUntil"));
    }
    EXPECT_EQ(harness.recordText(idOf(fixture.third)), before[2]);
}

TEST(HostSessionArmList, AChangedFileAnywhereInTheListFailsTheDragAndClaimsNothing) {
    ListFixture fixture;
    SessionHarness& harness = fixture.harness;
    const std::vector<const boost::json::object*> order = {&fixture.prepared, &fixture.second,
                                                           &fixture.third};
    const std::string token(fixture.armList(order).at("token").as_string());
    const std::string path =
        harness.session.preparations().at(idOf(fixture.third)).entry->fileURL();
    std::filesystem::resize_file(path, 10);
    harness.board.beginChromeDrag(fixture.marker());
    EXPECT_THAT(harness.session.tick(),
                ElementsAre("{\"code\":\"INTERNAL\"," + envelope + R"(,"token":")" + token +
                            R"(","type":"DRAG_FAILED"})"));
    EXPECT_TRUE(harness.board.claimedPaths.empty());
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_TRUE(fixture.leaseIsFree());
}

TEST(HostSessionArmList, SixteenClipsAtEveryLimitFitInTheirReplies) {
    SessionHarness harness;
    const SessionID longest{std::string(64, 'S'), 2147483647};
    const auto at = [&](boost::json::object request, std::size_t number) {
        request["session"] = {{"id", longest.id}, {"epoch", longest.epoch}};
        std::string requestId = std::to_string(number) + "-";
        request["requestId"] = requestId + std::string(64 - requestId.size(), 'r');
        return request;
    };
    ASSERT_EQ(harness.send(at(harness.helloRequest(longest), 0)).at("type"), "HELLO_OK");
    boost::json::object arm = at(harness.request("ARM"), 100);
    boost::json::array clips;
    for (int index = 0; index < 16; ++index) {
        // Eight PREPAREs fill the rate window.
        harness.clock.setMonotonic(10.0 * (index / 8));
        const std::string clipId = std::to_string(index) + std::string(62, 'c');
        const boost::json::object prepared =
            harness.send(at(harness.prepareRequest(clipId, 9007199254740991, makeClip(index),
                                                   std::string(200, 'n')),
                            index + 1));
        ASSERT_EQ(prepared.at("type"), "PREPARED") << boost::json::serialize(prepared);
        clips.push_back({{"preparedId", prepared.at("preparedId")},
                         {"clipId", clipId},
                         {"generation", 9007199254740991},
                         {"sha256", prepared.at("sha256")}});
    }
    arm["clips"] = clips;
    const std::vector<std::string> armed = harness.sendRaw(boost::json::serialize(arm));
    ASSERT_EQ(armed.size(), 1u);
    EXPECT_EQ(boost::json::parse(armed[0]).at("type"), "ARMED") << armed[0];
    EXPECT_EQ(boost::json::parse(armed[0]).at("clips").as_array().size(), 16u);
    harness.board.beginChromeDrag(harness.session.armed()->marker);
    const std::vector<std::string> published = harness.session.tick();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(boost::json::parse(published[0]).at("type"), "PUBLISHED") << published[0];
    EXPECT_EQ(harness.board.claimedPaths.size(), 16u);
    // Far within the bound: a reply over it would have become an INTERNAL error.
    for (const std::string& reply : {armed[0], published[0]}) {
        EXPECT_LT(static_cast<std::int64_t>(reply.size()), harness.limits.maxResponseFrameBytes / 8)
            << reply.size();
    }
}

}  // namespace
}  // namespace quenra
