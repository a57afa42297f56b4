#include "system_services/system_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <iomanip>
#include <set>

#include "system_services/system_random.h"

namespace quenra {
namespace {

TEST(SystemClock, MonotonicNeverGoesBackAndWallFollowsTheDate) {
    SystemClock clock;
    double previous = clock.monotonicNow();
    for (int read = 0; read < 1000; ++read) {
        const double now = clock.monotonicNow();
        EXPECT_GE(now, previous);
        previous = now;
    }
    const double wall = clock.wallNow();
    const auto date = static_cast<double>(std::time(nullptr));
    EXPECT_GE(wall, date - 1);
    EXPECT_LE(wall, date + 1);
}

TEST(SystemClock, WallReadingsAreWholeMilliseconds) {
    SystemClock clock;
    for (int read = 0; read < 1000; ++read) {
        const double wall = clock.wallNow();
        const double milliseconds = std::round(wall * 1000);
        EXPECT_EQ(milliseconds / 1000, wall) << std::setprecision(17) << wall;
    }
}

TEST(SystemRandom, GivesTheCountAskedForAndDifferentBytesEachTime) {
    SystemRandom random;
    EXPECT_TRUE(random.bytes(0).empty());
    EXPECT_EQ(random.bytes(1 << 20).size(), 1u << 20);  // over getrandom's single-call limit
    std::set<std::vector<std::uint8_t>> seen;
    for (int draw = 0; draw < 64; ++draw) {
        seen.insert(random.bytes(16));
    }
    EXPECT_EQ(seen.size(), 64u);
    const std::string hex = random.hex(8);
    EXPECT_EQ(hex.size(), 16u);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
}

}  // namespace
}  // namespace quenra
