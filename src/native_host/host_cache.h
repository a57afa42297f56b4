// Opening the user's clip cache the way the host's commands and its runtime all do.
#pragma once

#include <optional>
#include <string>

#include "bridge_core/cache.h"
#include "bridge_core/limits.h"

namespace quenra::HostCache {

// The cache at root, or nothing when there is no root or it cannot be opened. A missing
// caches directory (the root's parent, absent on a fresh Linux account) is created private
// first; an existing one is left as it is. Nothing is logged.
std::optional<Cache> open(const std::optional<std::string>& root, const Limits& limits,
                          BridgeClock& clock, RandomSource& random);

}  // namespace quenra::HostCache
