#include "native_host/host_cache.h"

#include "bridge_core/files.h"
#include "bridge_core/limits.h"

namespace quenra::HostCache {

std::optional<Cache> open(const std::optional<std::string>& root, const Limits& limits,
                          BridgeClock& clock, RandomSource& random) {
    if (!root || root->empty())
        return std::nullopt;
    std::string::size_type slash = root->rfind('/');
    if (slash != std::string::npos && slash > 0) {
        try {
            (void)Files::createDirectory(root->substr(0, slash));
        } catch (const FileFailure&) {
            // EEXIST and every other failure show up in the cache's own checks just below.
        }
    }
    try {
        return std::optional<Cache>(std::in_place, *root, limits, clock, random);
    } catch (const FileFailure&) {
        return std::nullopt;
    }
}

}  // namespace quenra::HostCache
