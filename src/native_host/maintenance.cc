#include "native_host/maintenance.h"

#include <boost/json/object.hpp>
#include <cstdint>
#include <span>

#include "bridge_core/files.h"
#include "bridge_core/identity.h"
#include "bridge_core/json_writer.h"
#include "bridge_core/limits.h"
#include "bridge_core/log.h"
#include "native_host/host_cache.h"
#include "native_host/output.h"
#include "platform/platform.h"
#include "system_services/system_clock.h"
#include "system_services/system_drag_board.h"
#include "system_services/system_random.h"

namespace quenra::Maintenance {

namespace {

void writeLine(const std::string& line) {
    // A reader that has gone changes nothing about the status.
    (void)Output::write(bytesOf(line));
}

std::string compactLine(const boost::json::object& object) {
    // Every member is a string, an integer or a boolean, which JSON always holds.
    return JsonWriter::write(object).value() + "\n";
}

}  // namespace

std::string selfTestReport(bool cacheOK, bool dragBoardOK, const Platform& platform) {
    return compactLine(boost::json::object{
        {"cache", cacheOK ? "ok" : "unavailable"},
        {"dragBoard", dragBoardOK ? "ok" : "unavailable"},
        {"helperVersion", Identity::helperVersion},
        {"platform",
         boost::json::object{
             {"arch", platform.arch}, {"os", platform.os}, {"version", platform.version}}},
        {"protocolVersion", Identity::protocolVersion},
    });
}

std::string sweepReport(const SweepReport& report) {
    return compactLine(boost::json::object{
        {"deleted", report.deleted},
        {"kept", report.kept},
        {"owned", report.owned},
        {"skipped", report.skipped},
        {"temporariesDeleted", report.temporariesDeleted},
    });
}

bool checkCache(const std::optional<std::string>& root, const Limits& limits, BridgeClock& clock,
                RandomSource& random) {
    std::optional<Cache> cache = HostCache::open(root, limits, clock, random);
    if (!cache)
        return false;
    // An empty file made and removed again: the cache takes new files.
    const std::string probe = cache->root() + "/self-test-" + random.hex(8);
    try {
        Files::writeNew(probe, {}, {.flushed = false});
        return Files::removeFile(probe);
    } catch (const FileFailure&) {
        return false;
    }
}

bool checkDragBoard() {
    try {
        return openSystemDragBoard()->changeCount() >= 0;
    } catch (const FileFailure&) {
        return false;
    }
}

int selfTest() {
    SystemClock clock;
    SystemRandom random;
    bool cacheOK = checkCache(Cache::defaultRoot(), Limits::standard(), clock, random);
    bool dragBoardOK = checkDragBoard();
    writeLine(selfTestReport(cacheOK, dragBoardOK, Platform::current()));
    return cacheOK ? 0 : 1;
}

int sweepOnce() {
    SystemClock clock;
    SystemRandom random;
    std::optional<Cache> cache =
        HostCache::open(Cache::defaultRoot(), Limits::standard(), clock, random);
    if (!cache) {
        Log::note("cache-unavailable");
        return 1;
    }
    writeLine(sweepReport(cache->sweep()));
    return 0;
}

}  // namespace quenra::Maintenance
