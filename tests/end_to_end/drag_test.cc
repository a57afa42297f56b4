// Armed drags on the real host: the watch timer's life, the takeover through the drag
// simulator, the lease's end, and the one-armed-drag-per-user rule across two processes.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <fstream>
#include <sstream>
#include <thread>

#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "end_to_end/host_fixture.h"
#include "system_services/linux/file_url.h"

namespace quenra::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How often the host's main thread has gone to sleep and been woken since it started: every
// timer firing and every hand-off costs one, an idle loop none.
std::int64_t mainThreadWakeups(const HostProcess& host) {
    std::string pid = std::to_string(host.pid());
    std::ifstream status("/proc/" + pid + "/task/" + pid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("voluntary_ctxt_switches:")) {
            return std::stoll(line.substr(line.find(':') + 1));
        }
    }
    throw std::runtime_error("no context switch count for " + pid);
}

std::int64_t wakeupsDuring(const HostProcess& host, milliseconds span) {
    // Lets the host finish going back to sleep after the reply it just sent.
    std::this_thread::sleep_for(milliseconds(30));
    std::int64_t before = mainThreadWakeups(host);
    std::this_thread::sleep_for(span);
    return mainThreadWakeups(host) - before;
}

using DragTest = HostTest;

TEST_F(DragTest, TheHostPollsEveryFiveMillisecondsOnlyWhileADragIsArmed) {
    HostProcess host = startHost();
    hello(host);
    PreparedClip clip = prepare(host, "prepare-1");
    EXPECT_LE(wakeupsDuring(host, milliseconds(400)), 2) << "an idle host sleeps";

    boost::json::object armed = arm(host, "arm-1", clip);
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED");
    // One 5 ms timer wakes the host about 100 times in 500 ms; a late timer fires less often,
    // never more, so a second timer would show as up to twice as many.
    std::int64_t polling = wakeupsDuring(host, milliseconds(500));
    EXPECT_GE(polling, 10);
    EXPECT_LE(polling, 130);

    // Arming the same clip again renews the lease; it must not add a second timer.
    for (const char* requestId : {"arm-2", "arm-3", "arm-4"}) {
        boost::json::object again = arm(host, requestId, clip);
        EXPECT_EQ(Requests::text(again, "token"), Requests::text(armed, "token"));
    }
    EXPECT_LE(wakeupsDuring(host, milliseconds(500)), 130);

    boost::json::object cancelled =
        exchange(host, Requests::cancel(session, "cancel-1", Requests::text(armed, "token")));
    ASSERT_EQ(Requests::text(cancelled, "type"), "CANCELLED");
    EXPECT_EQ(cancelled.at("wasActive"), true);
    EXPECT_LE(wakeupsDuring(host, milliseconds(400)), 2) << "polling stops with the drag";
}

TEST_F(DragTest, ABrowserDragCarryingTheMarkerIsTakenOverAndPublished) {
    HostProcess host = startHost();
    hello(host);
    PreparedClip clip = prepare(host, "prepare-1", 4096);
    boost::json::object armed = arm(host, "arm-1", clip);
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED");

    std::int64_t before =
        boost::json::parse(dragSim({"show"})).as_object().at("changeCount").as_int64();
    dragSim({"begin", Requests::text(armed, "marker")});
    boost::json::object published = next(host, milliseconds(1000));
    EXPECT_EQ(Requests::text(published, "type"), "PUBLISHED");
    EXPECT_EQ(Requests::text(published, "token"), Requests::text(armed, "token"));
    EXPECT_EQ(Requests::text(published, "preparedId"), clip.preparedId);
    EXPECT_FALSE(published.contains("requestId"));

    // One change for the browser's drag, one for the host's claim: the host wrote the board
    // exactly once, with the cached clip as the dropped file.
    boost::json::object board = boost::json::parse(dragSim({"show"})).as_object();
    EXPECT_EQ(board.at("changeCount").as_int64(), before + 2);
    std::string path = cacheRoot() + "/entries/" + clip.preparedId + "/" + clip.fileName;
    EXPECT_EQ(FileURL::toPath(Requests::text(board, "fileURL")), path);
    EXPECT_EQ(board.at("filenames"), boost::json::array{boost::json::string(path)});
    EXPECT_TRUE(board.at("plainText").is_null());

    boost::json::object status = exchange(host, Requests::status(session, "status-1"));
    EXPECT_EQ(status.at("armed"), false);
    EXPECT_EQ(status.at("preparations"), 1);
}

TEST_F(DragTest, ADragOfSeveralClipsPutsEveryFileOnTheBoardInOrder) {
    HostProcess host = startHost();
    hello(host);
    std::vector<PreparedClip> clips = {prepare(host, "prepare-1", 700, "drums"),
                                       prepare(host, "prepare-2", 3000, "bass"),
                                       prepare(host, "prepare-3", 1500, "chords")};
    std::vector<Requests::ListedClip> listed;
    for (const PreparedClip& clip : clips) {
        listed.push_back({clip.preparedId, clip.clipId, clip.generation, clip.sha256});
    }
    boost::json::object armed = exchange(host, Requests::armList(session, "arm-1", listed));
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED") << boost::json::serialize(armed);

    dragSim({"begin", Requests::text(armed, "marker")});
    boost::json::object published = next(host, milliseconds(1000));
    ASSERT_EQ(Requests::text(published, "type"), "PUBLISHED");
    EXPECT_EQ(Requests::text(published, "token"), Requests::text(armed, "token"));

    // What a drop target reads: every file's URL in order, the first one also where a reader
    // of one file looks, and the list of paths; each file is the cached clip.
    boost::json::object board = boost::json::parse(dragSim({"show"})).as_object();
    boost::json::array urls;
    boost::json::array paths;
    boost::json::array announced;
    for (const PreparedClip& clip : clips) {
        const std::string path = cacheRoot() + "/entries/" + clip.preparedId + "/" + clip.fileName;
        paths.push_back(boost::json::string(path));
        urls.push_back(boost::json::string(*FileURL::fromPath(path)));
        announced.push_back({{"generation", 1}, {"preparedId", clip.preparedId}});
        EXPECT_EQ(Hashing::sha256Hex(Files::readSmall(path, 1 << 20).value()), clip.sha256);
    }
    EXPECT_EQ(published.at("clips"), announced);
    EXPECT_EQ(board.at("fileURLs"), urls);
    EXPECT_EQ(board.at("fileURL"), urls.at(0));
    EXPECT_EQ(board.at("filenames"), paths);
    EXPECT_TRUE(board.at("plainText").is_null());
}

TEST_F(DragTest, ADragNobodyStartsExpiresAtTheEndOfItsLease) {
    HostProcess host = startHost();
    hello(host);
    PreparedClip clip = prepare(host, "prepare-1");
    // Another application's copy is no browser drag and must not end the wait.
    boost::json::object armed = arm(host, "arm-1", clip);
    Clock::time_point armedAt = Clock::now();
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED");
    dragSim({"copy", "some text"});

    boost::json::object expired = next(host, milliseconds(15000));
    double waited = std::chrono::duration<double>(Clock::now() - armedAt).count();
    EXPECT_EQ(Requests::text(expired, "type"), "EXPIRED");
    EXPECT_EQ(Requests::text(expired, "token"), Requests::text(armed, "token"));
    EXPECT_GE(waited, 9.9);
    EXPECT_LE(waited, 12.0);
    EXPECT_EQ(exchange(host, Requests::status(session, "status-1")).at("armed"), false);
}

TEST_F(DragTest, WhileOneHostHoldsAnArmedDragAnotherHostsArmIsBusy) {
    HostProcess first = startHost();
    HostProcess second = startHost();
    hello(first);
    hello(second);
    PreparedClip firstClip = prepare(first, "prepare-1");
    PreparedClip secondClip = prepare(second, "prepare-1", 600, "clip-b");

    boost::json::object armed = arm(first, "arm-1", firstClip);
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED");
    boost::json::object busy = arm(second, "arm-1", secondClip);
    EXPECT_EQ(Requests::text(busy, "type"), "ERROR");
    EXPECT_EQ(Requests::text(busy, "code"), "BUSY");
    EXPECT_EQ(exchange(second, Requests::status(session, "status-1")).at("armed"), false);

    // The lease goes with the first host's drag, and the second can arm at once.
    exchange(first, Requests::cancel(session, "cancel-1", Requests::text(armed, "token")));
    EXPECT_EQ(Requests::text(arm(second, "arm-2", secondClip), "type"), "ARMED");
}

TEST_F(DragTest, TheEndOfInputEndsAnArmedDragAndFreesTheLease) {
    HostProcess first = startHost();
    hello(first);
    PreparedClip clip = prepare(first, "prepare-1");
    ASSERT_EQ(Requests::text(arm(first, "arm-1", clip), "type"), "ARMED");
    first.closeInput();
    EXPECT_EQ(first.wait(), ExitStatus::exitedWith(0));

    HostProcess second = startHost();
    hello(second);
    PreparedClip again = prepare(second, "prepare-1", 700);
    EXPECT_EQ(Requests::text(arm(second, "arm-1", again), "type"), "ARMED");
}

}  // namespace
}  // namespace quenra::testing
