#include "native_host/connection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "bridge_core/files.h"
#include "support/captured_standard_error.h"
#include "support/on_another_thread.h"

namespace quenra {
namespace {

using Item = FrameDecoder::Item;
using Ending = Connection::Ending;
using testing::CapturedStandardError;

// Stands in for the host session: answers each item with scripted payloads and watches while
// told to, recording every call in order.
class ScriptedSession final : public ServedSession {
  public:
    std::vector<std::string> receive(ReadRequest request) override {
        calls.push_back("receive");
        if (outOfMemory)
            throw std::bad_alloc();
        const auto* read = std::get_if<HostRequest>(&request);
        watching = read != nullptr && read->requestId == "arm";
        unsettled = unsettled || leavesWork;
        return replies;
    }
    std::vector<std::string> receive(const Item&) override {
        calls.push_back("receive item");
        return replies;
    }
    std::vector<std::string> settle() override {
        calls.push_back(watching ? "settle watched" : "settle");
        unsettled = false;
        if (settleEndsWatching)
            watching = false;
        return std::exchange(settled, {});
    }
    bool isUnsettled() const override { return unsettled; }
    std::vector<std::string> tick() override {
        calls.push_back("tick");
        ++ticks;
        if (ticks == stopWatchingAtTick)
            watching = false;
        return {};
    }
    bool isWatching() const override { return watching; }
    void sweep() override { calls.push_back("sweep"); }
    void shutdown() override { calls.push_back("shutdown"); }

    std::vector<std::string> replies{"{\"a\":1}", "{\"b\":2}"};
    std::vector<std::string> settled;
    bool settleEndsWatching = false;
    bool leavesWork = false;  // every answer leaves work for settle()
    bool unsettled = false;
    std::vector<std::string> calls;
    bool watching = false;
    bool outOfMemory = false;
    int ticks = 0;
    int stopWatchingAtTick = -1;
};

struct Harness {
    EventLoop loop;
    ScriptedSession session;
    std::vector<std::string> written;
    std::vector<int> exits;
    bool outputBroken = false;
    int writeAttempts = 0;
    Connection connection{loop, session,
                          Connection::Exits{
                              [this](std::span<const std::uint8_t> frame) {
                                  ++writeAttempts;
                                  if (outputBroken)
                                      return false;
                                  written.emplace_back(frame.begin(), frame.end());
                                  session.calls.push_back("write");
                                  return true;
                              },
                              [this](int status) { exits.push_back(status); },
                          }};
};

// A request as the reader thread hands it over; the scripted session watches after "arm".
ReadRequest request(const std::string& requestId) {
    HostRequest read;
    read.requestId = requestId;
    return read;
}

std::string framed(const std::string& payload) {
    ByteBuffer bytes = FrameEncoder::frame(payload);
    return std::string(bytes.begin(), bytes.end());
}

TEST(ConnectionTest, RepliesAreFramedAndWrittenInOrder) {
    Harness harness;
    harness.connection.handle(request("x"));
    EXPECT_EQ(harness.written,
              (std::vector<std::string>{framed("{\"a\":1}"), framed("{\"b\":2}")}));
    EXPECT_TRUE(harness.exits.empty());
}

TEST(ConnectionTest, EveryEndShutsTheSessionDownThenExitsWithItsStatusAndLogLine) {
    struct Case {
        const char* name;
        std::function<void(Harness&)> act;
        int status;
        std::string log;
    };
    const std::vector<Case> cases{
        {"corrupt length", [](Harness& h) { h.connection.refuse(Item::corrupt(67108865)); }, 1,
         "quenra-native-host: corrupt-frame-length\n"},
        {"end of input inside a frame",
         [](Harness& h) { h.connection.end(Ending::inputEndedMidFrame); }, 0,
         "quenra-native-host: eof-mid-frame\n"},
        {"end of input between frames", [](Harness& h) { h.connection.end(Ending::inputEnded); }, 0,
         ""},
        {"memory run out while a request is answered",
         [](Harness& h) {
             h.session.outOfMemory = true;
             h.connection.handle(ReadRequest(HostRequest{}));
         },
         1, "quenra-native-host: out-of-memory\n"},
        {"memory run out on the reader thread",
         [](Harness& h) { h.connection.end(Ending::outOfMemory); }, 1,
         "quenra-native-host: out-of-memory\n"},
        {"no reader thread to be had",
         [](Harness& h) { h.connection.end(Ending::readerUnavailable); }, 1,
         "quenra-native-host: reader-unavailable\n"},
        {"broken output",
         [](Harness& h) {
             h.outputBroken = true;
             h.connection.refuse(Item::empty());
         },
         0, ""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Harness harness;
        CapturedStandardError error;
        test.act(harness);
        EXPECT_EQ(error.text(), test.log);
        EXPECT_EQ(harness.exits, std::vector<int>{test.status});
        ASSERT_FALSE(harness.session.calls.empty());
        EXPECT_EQ(harness.session.calls.back(), "shutdown");
        EXPECT_TRUE(harness.written.empty());
    }
}

// The first item's replies go out before the cache is swept, once; later items are not
// followed by a sweep, whatever they are.
TEST(ConnectionTest, TheCacheIsSweptOnceRightAfterTheFirstItemsRepliesAreWritten) {
    struct Case {
        const char* name;
        std::function<void(Connection&)> first;
        const char* received;
    };
    const std::vector<Case> cases{
        {"a request", [](Connection& c) { c.handle(request("hello")); }, "receive"},
        {"an empty frame", [](Connection& c) { c.refuse(Item::empty()); }, "receive item"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Harness harness;
        test.first(harness.connection);
        harness.connection.handle(request("x"));
        harness.connection.refuse(Item::tooLarge(1 << 30));
        EXPECT_EQ(harness.session.calls,
                  (std::vector<std::string>{test.received, "write", "write", "sweep", "receive",
                                            "write", "write", "receive item", "write", "write"}));
    }
    // Replies that cannot be written end the connection before any sweep.
    Harness broken;
    broken.outputBroken = true;
    broken.connection.handle(request("hello"));
    EXPECT_EQ(broken.session.calls, (std::vector<std::string>{"receive", "shutdown"}));
}

TEST(ConnectionTest, ACorruptItemNeverReachesTheSession) {
    Harness harness;
    CapturedStandardError error;
    harness.connection.refuse(Item::corrupt(1LL << 32));
    EXPECT_EQ(harness.session.calls, std::vector<std::string>{"shutdown"});
}

TEST(ConnectionTest, ABrokenOutputDropsTheRestOfTheBatch) {
    Harness harness;
    harness.outputBroken = true;
    harness.connection.send({"{\"a\":1}", "{\"b\":2}", "{\"c\":3}"});
    EXPECT_EQ(harness.writeAttempts, 1);
    EXPECT_EQ(harness.exits, std::vector<int>{0});
}

TEST(ConnectionTest, TheWatchTimerExistsExactlyWhileTheSessionWatches) {
    Harness harness;
    harness.connection.startSweepTimer();
    harness.connection.startSweepTimer();
    EXPECT_EQ(harness.loop.timerCount(), 1u);

    const ReadRequest arm = request("arm");
    const ReadRequest other = request("o");
    harness.connection.handle(arm);
    EXPECT_EQ(harness.loop.timerCount(), 2u);
    // More items while watching never add a second watch timer.
    harness.connection.handle(arm);
    harness.connection.handle(arm);
    EXPECT_EQ(harness.loop.timerCount(), 2u);

    harness.connection.handle(other);
    EXPECT_EQ(harness.loop.timerCount(), 1u);
}

// What an answer leaves to do waits for the settle timer, so that the answer's reader is not
// kept behind it: one timer however many answers leave work, fired before the first poll; an
// event the work returns goes out, and a drag it ends stops the watch.
TEST(ConnectionTest, AnAnswersRemainingWorkRunsOnceOnTheSettleTimerAndMayEndTheWatch) {
    Harness harness;
    harness.connection.handle(request("o"));
    EXPECT_EQ(harness.loop.timerCount(), 0u);  // nothing left to do, no timer

    harness.session.leavesWork = true;
    harness.connection.handle(request("arm"));
    harness.connection.handle(request("arm"));
    EXPECT_EQ(harness.loop.timerCount(), 2u);  // the watch and the settle timer
    harness.session.leavesWork = false;
    harness.session.calls.clear();
    harness.session.settled = {"{\"failed\":1}"};
    harness.session.settleEndsWatching = true;
    harness.session.stopWatchingAtTick = 1;  // a poll that came first would end the run too
    harness.loop.run();
    EXPECT_EQ(harness.session.calls, (std::vector<std::string>{"settle watched", "write"}));
    EXPECT_EQ(harness.written.back(), framed("{\"failed\":1}"));
    EXPECT_EQ(harness.session.ticks, 0);
    EXPECT_EQ(harness.loop.timerCount(), 0u);
}

TEST(ConnectionTest, TicksRunOnlyWhileWatchingAndResumeWhenWatchingAgain) {
    // No sweep timer: the run then ends exactly when the watch timer goes, once the tick that
    // ended watching has been fully handled.
    Harness harness;
    const ReadRequest arm = request("arm");
    harness.session.stopWatchingAtTick = 5;
    harness.connection.handle(arm);
    harness.loop.run();
    EXPECT_EQ(harness.session.ticks, 5);
    EXPECT_EQ(harness.loop.timerCount(), 0u);

    harness.session.stopWatchingAtTick = 8;
    harness.connection.handle(arm);
    harness.loop.run();
    EXPECT_EQ(harness.session.ticks, 8);
    EXPECT_EQ(harness.loop.timerCount(), 0u);
}

// The connection belongs to the loop's thread, where it is made; a hand-over that skipped the
// loop would call it from the reader thread.
TEST(ConnectionDeathTest, IsUsedOnlyOnTheThreadThatMadeIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Harness harness;
    EXPECT_DEATH(
        testing::onAnotherThread([&] { harness.connection.handle(request("a")); }),
        "thread-check-failed: .*Connection::handle.* called on a thread that does not own");
}

}  // namespace
}  // namespace quenra
