// The fixed constants that name the host, its versions, its capabilities and the browser
// extensions that may call it.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quenra::Identity {

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

}  // namespace quenra::Identity
