// "--self-test" and "--sweep" run by hand or by the setup program: exact report lines, exit
// statuses, what they leave on disk, and their paths when the cache cannot be used.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "end_to_end/host_fixture.h"
#include "platform/platform.h"

namespace quenra::testing {
namespace {

std::string selfTestLine(const char* cache, const char* dragBoard) {
    Platform platform = Platform::current();
    return std::string("{\"cache\":\"") + cache + "\",\"dragBoard\":\"" + dragBoard +
           "\",\"helperVersion\":\"0.1.0\",\"platform\":{\"arch\":\"" + platform.arch +
           "\",\"os\":\"" + platform.os + "\",\"version\":\"" + platform.version +
           "\"},\"protocolVersion\":\"1.0\"}\n";
}

std::set<std::string> namesIn(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

using MaintenanceTest = HostTest;

TEST_F(MaintenanceTest, SelfTestOnAFreshAccountPassesAndLeavesOnlyTheEmptyCache) {
    TestPeer::Completed done = runHost({"--self-test"});
    EXPECT_EQ(done.output, selfTestLine("ok", "ok"));
    EXPECT_EQ(done.status, ExitStatus::exitedWith(0));
    EXPECT_EQ(done.error, "");
    EXPECT_EQ(namesIn(cacheRoot()), (std::set<std::string>{"entries"}));
    EXPECT_TRUE(namesIn(cacheRoot() + "/entries").empty());
}

// A plain file where the caches folder, or the cache root itself, belongs.
void blockCache(const TemporaryDirectory& home, bool atRoot) {
    if (atRoot) {
        std::filesystem::create_directory(home.join(".cache"));
        writeFileText(home.join(".cache/tech.ostrell.quenra.bridge"), "in the way");
    } else {
        writeFileText(home.join(".cache"), "in the way");
    }
}

// The self-test reports in full and fails; the sweep logs and writes nothing.
TEST_F(MaintenanceTest, AFileWhereTheCacheBelongsFailsEachCommandInItsOwnWay) {
    for (bool atRoot : {false, true}) {
        SCOPED_TRACE(atRoot ? "file at the root" : "file at the caches folder");
        TemporaryDirectory otherHome;
        environment = TestPeer::isolatedEnvironment(otherHome.path());
        blockCache(otherHome, atRoot);
        const TestPeer::Completed selfTest = runHost({"--self-test"});
        EXPECT_EQ(selfTest.output, selfTestLine("unavailable", "ok"));
        EXPECT_EQ(selfTest.status, ExitStatus::exitedWith(1));
        EXPECT_EQ(selfTest.error, "");
        const TestPeer::Completed sweep = runHost({"--sweep"});
        EXPECT_EQ(sweep.output, "");
        EXPECT_EQ(sweep.error, "quenra-native-host: cache-unavailable\n");
        EXPECT_EQ(sweep.status, ExitStatus::exitedWith(1));
    }
}

TEST_F(MaintenanceTest, AnUnreachableDragBoardIsReportedWithoutFailingTheSelfTest) {
    std::string runtime = home.join("runtime-file");
    writeFileText(runtime, "not a directory");
    for (std::string& variable : environment) {
        if (variable.starts_with("XDG_RUNTIME_DIR="))
            variable = "XDG_RUNTIME_DIR=" + runtime;
    }
    TestPeer::Completed done = runHost({"--self-test"});
    EXPECT_EQ(done.output, selfTestLine("ok", "unavailable"));
    EXPECT_EQ(done.status, ExitStatus::exitedWith(0));
}

TEST_F(MaintenanceTest, SweepOfAnEmptyCacheReportsZeros) {
    TestPeer::Completed done = runHost({"--sweep"});
    EXPECT_EQ(
        done.output,
        "{\"deleted\":0,\"kept\":0,\"owned\":0,\"skipped\":false,\"temporariesDeleted\":0}\n");
    EXPECT_EQ(done.status, ExitStatus::exitedWith(0));
    EXPECT_EQ(done.error, "");
}

TEST_F(MaintenanceTest, SweepBesideAServingHostSparesItsEntryAndRemovesAStaleStaging) {
    HostProcess host = startHost();
    hello(host);
    PreparedClip clip = prepare(host, "prepare-1");

    std::string staging = cacheRoot() + "/entries/.tmp-0123456789abcdef";
    ASSERT_EQ(::mkdir(staging.c_str(), 0700), 0);
    timespec twoHoursAgo[2] = {{::time(nullptr) - 7200, 0}, {::time(nullptr) - 7200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, staging.c_str(), twoHoursAgo, 0), 0);

    TestPeer::Completed done = runHost({"--sweep"});
    EXPECT_EQ(
        done.output,
        "{\"deleted\":0,\"kept\":0,\"owned\":1,\"skipped\":false,\"temporariesDeleted\":1}\n");
    EXPECT_EQ(done.status, ExitStatus::exitedWith(0));
    EXPECT_TRUE(std::filesystem::exists(cacheRoot() + "/entries/" + clip.preparedId));
    EXPECT_FALSE(std::filesystem::exists(staging));
}

// A served host sweeps its cache right after its first answer, not before it: a request
// answered after that sees the cache swept, as it did when the sweep came at the start.
TEST_F(MaintenanceTest, AServedHostSweepsTheCacheOnceItHasAnsweredTheFirstRequest) {
    ASSERT_EQ(runHost({"--sweep"}).status, ExitStatus::exitedWith(0));
    const std::string id(32, 'b');
    const std::string expired = cacheRoot() + "/entries/" + id;
    ASSERT_EQ(::mkdir(expired.c_str(), 0700), 0);
    writeFileText(expired + "/entry.json",
                  R"({"byteLength":1000,"createdAt":1,"fileName":"x.mid","preparedId":")" + id +
                      R"(","sha256":"","state":"prepared","touchedAt":1,"version":1})");

    HostProcess host = startHost();
    hello(host);
    const boost::json::object status = exchange(host, Requests::status(session, "status-1"));
    EXPECT_EQ(status.at("cache"), (boost::json::object{{"entries", 0}, {"bytes", 0}}));
    EXPECT_FALSE(std::filesystem::exists(expired));
}

TEST_F(MaintenanceTest, SweepWhileTheCacheLockIsHeldIsSkippedAndStillExitsZero) {
    ASSERT_EQ(runHost({"--sweep"}).status, ExitStatus::exitedWith(0));
    int lock = ::open((cacheRoot() + "/cache.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    TestPeer::Completed done = runHost({"--sweep"});
    ::close(lock);
    EXPECT_EQ(done.output,
              "{\"deleted\":0,\"kept\":0,\"owned\":0,\"skipped\":true,\"temporariesDeleted\":0}\n");
    EXPECT_EQ(done.status, ExitStatus::exitedWith(0));
}

}  // namespace
}  // namespace quenra::testing
