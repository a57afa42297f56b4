#include "native_host/maintenance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "bridge_core/limits.h"
#include "platform/platform.h"
#include "support/deterministic_random.h"
#include "support/manual_clock.h"
#include "support/temporary_directory.h"

namespace quenra {
namespace {

using testing::DeterministicRandom;
using testing::ManualClock;
using testing::TemporaryDirectory;

std::set<std::string> namesIn(const std::string& directory) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(MaintenanceTest, SelfTestReportsAreCompactSortedLinesWithEveryMember) {
    struct Case {
        bool cache;
        bool board;
        const char* expected;
    };
    const Platform platform{"15.4.1", "arm64", "macOS"};
    for (const Case& test : {
             Case{true, true,
                  "{\"cache\":\"ok\",\"dragBoard\":\"ok\",\"helperVersion\":\"0.1.0\","
                  "\"platform\":{\"arch\":\"arm64\",\"os\":\"macOS\",\"version\":\"15.4.1\"},"
                  "\"protocolVersion\":\"1.0\"}\n"},
             Case{false, true,
                  "{\"cache\":\"unavailable\",\"dragBoard\":\"ok\",\"helperVersion\":\"0.1.0\","
                  "\"platform\":{\"arch\":\"arm64\",\"os\":\"macOS\",\"version\":\"15.4.1\"},"
                  "\"protocolVersion\":\"1.0\"}\n"},
             Case{true, false,
                  "{\"cache\":\"ok\",\"dragBoard\":\"unavailable\",\"helperVersion\":\"0.1.0\","
                  "\"platform\":{\"arch\":\"arm64\",\"os\":\"macOS\",\"version\":\"15.4.1\"},"
                  "\"protocolVersion\":\"1.0\"}\n"},
         }) {
        EXPECT_EQ(Maintenance::selfTestReport(test.cache, test.board, platform), test.expected);
    }
}

TEST(MaintenanceTest, SweepReportsCarryEveryCountAndTheSkippedFlag) {
    EXPECT_EQ(
        Maintenance::sweepReport(SweepReport{3, 2, 1, 4, false}),
        "{\"deleted\":3,\"kept\":2,\"owned\":1,\"skipped\":false,\"temporariesDeleted\":4}\n");
    EXPECT_EQ(Maintenance::sweepReport(SweepReport{0, 0, 0, 0, true}),
              "{\"deleted\":0,\"kept\":0,\"owned\":0,\"skipped\":true,\"temporariesDeleted\":0}\n");
}

class CacheCheckTest : public ::testing::Test {
  protected:
    TemporaryDirectory directory;
    ManualClock clock;
    DeterministicRandom random;
    const Limits& limits = Limits::standard();
};

TEST_F(CacheCheckTest, APassingCheckLeavesTheEmptyCacheAndNoProbe) {
    std::string root = directory.join("caches/tech.ostrell.quenra.bridge");
    EXPECT_TRUE(Maintenance::checkCache(root, limits, clock, random));
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"entries"}));
    // A fresh account's missing caches folder is made, private.
    struct stat status {};
    ASSERT_EQ(::stat(directory.join("caches").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(CacheCheckTest, TheCheckFailsWithoutARootOrWhenTheCacheCannotBeMade) {
    EXPECT_FALSE(Maintenance::checkCache(std::nullopt, limits, clock, random));
    testing::writeFileText(directory.join("root-file"), "in the way");
    EXPECT_FALSE(Maintenance::checkCache(directory.join("root-file"), limits, clock, random));
    EXPECT_FALSE(
        Maintenance::checkCache(directory.join("no/such/home/cache"), limits, clock, random));
}

TEST_F(CacheCheckTest, AProbeThatCannotBeCreatedFailsTheCheckAndTouchesNothingThere) {
    std::string root = directory.join("tech.ostrell.quenra.bridge");
    std::filesystem::create_directories(root);
    testing::writeFileText(root + "/self-test-0102030405060708", "someone else's");
    random.script({1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_FALSE(Maintenance::checkCache(root, limits, clock, random));
    EXPECT_EQ(testing::readFileText(root + "/self-test-0102030405060708"), "someone else's");
}

}  // namespace
}  // namespace quenra
