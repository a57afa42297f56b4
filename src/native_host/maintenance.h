// The host's two maintenance commands, run by hand or by the setup program's connection test:
// "--self-test" reports identity and platform and checks that the clip cache can be opened and
// written and that the drag pasteboard answers; "--sweep" runs one housekeeping pass over the
// cache. Both write one compact JSON line to standard output and return the exit status.
#pragma once

#include <optional>
#include <string>

#include "bridge_core/cache.h"
#include "bridge_core/limits.h"
#include "bridge_core/services.h"
#include "platform/platform.h"

namespace quenra::Maintenance {

// 0 when the cache check passed, else 1; the drag pasteboard's answer is only reported.
int selfTest();
// 0 after a sweep (skipped or not), 1 when the cache cannot be opened ("cache-unavailable" on
// standard error, nothing on standard output).
int sweepOnce();

// {"cache":…,"dragBoard":…,"helperVersion":…,"platform":{"arch","os","version"},
// "protocolVersion":…} and a line feed.
std::string selfTestReport(bool cacheOK, bool dragBoardOK, const Platform& platform);
// {"deleted":…,"kept":…,"owned":…,"skipped":…,"temporariesDeleted":…} and a line feed.
std::string sweepReport(const SweepReport& report);

// Opens the cache at root (HostCache::open), then creates an empty probe
// file "self-test-<16 hex>" in the root and removes it again. False when any step fails or
// there is no root; nothing is logged.
bool checkCache(const std::optional<std::string>& root, const Limits& limits, BridgeClock& clock,
                RandomSource& random);

// The drag pasteboard can be opened and reports a change count that is not negative.
bool checkDragBoard();

}  // namespace quenra::Maintenance
