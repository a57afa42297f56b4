// Fixed identity constants, the one record of every limit and time span, the platform facts
// reported to the extension, and the single diagnostic line writer.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quenra {

namespace Identity {

inline constexpr std::string_view helperVersion = "0.1.0";
inline constexpr std::string_view protocolVersion = "1.0";
inline constexpr std::int64_t protocolMajor = 1;
inline constexpr std::string_view releaseExtensionID = "kembcdlbgbcnnchcnbdhbmbhbejnedjf";
inline constexpr std::string_view developmentExtensionID = "dgldcbgpnkooljhfhcjpkojcdnfkepnb";
inline constexpr std::string_view releaseHostName = "tech.ostrell.quenra.bridge";
inline constexpr std::string_view developmentHostName = "tech.ostrell.quenra.bridge_dev";

const std::vector<std::string>& capabilities();

// The complete caller origins, scheme and trailing slash included.
const std::set<std::string, std::less<>>& allowedCallers();

// Exact string equality against allowedCallers: no trimming, case folding or prefix match.
bool isAllowedCaller(std::string_view origin);

}  // namespace Identity

struct Limits {
    std::int64_t maxMidiBytes = 16777216;
    std::int64_t maxRequestFrameBytes = 25165824;
    std::int64_t corruptFrameBytes = 67108864;
    std::int64_t maxResponseFrameBytes = 65536;
    std::int64_t maxNameLength = 200;
    std::int64_t markerMaxBytes = 256;
    double armLease = 10.0;
    double preparedIdle = 300.0;
    double retention = 86400.0;
    double unreadableRetention = 86400.0;
    double temporaryMaxAge = 3600.0;
    std::int64_t cacheMaxBytes = 268435456;
    std::int64_t cacheMaxEntries = 1024;
    std::int64_t prepareBurst = 8;
    std::int64_t prepareBurstBytes = 50331648;
    double rateWindow = 2.0;
    std::int64_t requestIdMemory = 256;
    double cacheLockWait = 2.0;

    static const Limits& standard();

    bool operator==(const Limits&) const = default;
};

struct Platform {
    std::string version;  // major.minor.patch, patch always present
    std::string arch;     // the build's processor as Apple names it: "arm64", "x86_64"
    std::string os;       // "macOS" on the product; the Linux stand-in reports "Linux"

    // Reads the running system's version on every call; defined by the platform layer.
    static Platform current();

    bool operator==(const Platform&) const = default;
};

namespace Log {

// One line on standard error, "quenra-native-host: " + message + "\n", in one write(2).
// A line that cannot be written is lost; nothing is retried or reported.
void note(std::string_view message);

}  // namespace Log

}  // namespace quenra
