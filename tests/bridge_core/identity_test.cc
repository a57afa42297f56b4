#include "bridge_core/identity.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge_core/limits.h"
#include "platform/platform.h"

namespace quenra {
namespace {

TEST(Identity, AllowedCallersMatchExactly) {
    const std::string release = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";
    const std::string development = "chrome-extension://dgldcbgpnkooljhfhcjpkojcdnfkepnb/";
    EXPECT_TRUE(Identity::isAllowedCaller(release));
    EXPECT_TRUE(Identity::isAllowedCaller(development));
    EXPECT_EQ(Identity::allowedCallers().size(), 2u);
    for (const std::string& origin : {release, development}) {
        SCOPED_TRACE(origin);
        EXPECT_FALSE(Identity::isAllowedCaller(origin.substr(0, origin.size() - 1)));
        std::string upper = origin;
        upper[19] = static_cast<char>(upper[19] - 'a' + 'A');
        EXPECT_FALSE(Identity::isAllowedCaller(upper));
        EXPECT_FALSE(Identity::isAllowedCaller(" " + origin));
        EXPECT_FALSE(Identity::isAllowedCaller(origin + " "));
        EXPECT_FALSE(Identity::isAllowedCaller(origin + "x"));
    }
    EXPECT_FALSE(Identity::isAllowedCaller(""));
}

TEST(Identity, ConstantsAreTheWireValues) {
    EXPECT_EQ(Identity::helperVersion, "0.1.0");
    EXPECT_EQ(Identity::protocolVersion, "1.0");
    EXPECT_EQ(Identity::protocolMajor, 1);
    EXPECT_EQ(Identity::capabilities(),
              (std::vector<std::string>{"drag-takeover-1", "multi-clip-drag-1", "audio-clip-1"}));
    EXPECT_EQ(Identity::releaseHostName, "tech.ostrell.quenra.bridge");
    EXPECT_EQ(Identity::developmentHostName, "tech.ostrell.quenra.bridge_dev");
}

TEST(Limits, StandardHoldsTheTableValues) {
    const Limits& limits = Limits::standard();
    EXPECT_EQ(limits, Limits());
    EXPECT_EQ(limits.maxMidiBytes, 16777216);
    EXPECT_EQ(limits.maxRequestFrameBytes, 25165824);
    EXPECT_EQ(limits.corruptFrameBytes, 67108864);
    EXPECT_EQ(limits.maxValuesOutsidePayload, 1024);
    EXPECT_EQ(limits.maxBytesOutsidePayload, 65536);
    EXPECT_EQ(limits.maxResponseFrameBytes, 65536);
    EXPECT_EQ(limits.maxNameLength, 200);
    EXPECT_EQ(limits.markerMaxBytes, 256);
    EXPECT_EQ(limits.armLease, 10.0);
    EXPECT_EQ(limits.preparedIdle, 300.0);
    EXPECT_EQ(limits.retention, 86400.0);
    EXPECT_EQ(limits.unreadableRetention, 86400.0);
    EXPECT_EQ(limits.temporaryMaxAge, 3600.0);
    EXPECT_EQ(limits.cacheMaxBytes, 268435456);
    EXPECT_EQ(limits.cacheMaxEntries, 1024);
    EXPECT_EQ(limits.prepareBurst, 8);
    EXPECT_EQ(limits.prepareBurstBytes, 50331648);
    EXPECT_EQ(limits.rateWindow, 2.0);
    EXPECT_EQ(limits.requestIdMemory, 256);
    EXPECT_EQ(limits.cacheLockWait, 2.0);
    Limits changed;
    changed.prepareBurst = 9;
    EXPECT_NE(changed, limits);
}

TEST(Platform, CurrentIsADottedTripleAndTheBuildArchitecture) {
    const Platform platform = Platform::current();
    EXPECT_EQ(std::count(platform.version.begin(), platform.version.end(), '.'), 2);
    for (char character : platform.version) {
        EXPECT_TRUE(character == '.' || (character >= '0' && character <= '9')) << platform.version;
    }
    EXPECT_TRUE(platform.arch == "arm64" || platform.arch == "x86_64");
    EXPECT_FALSE(platform.os.empty());
}

}  // namespace
}  // namespace quenra
