// The Linux clocks: CLOCK_REALTIME, and CLOCK_MONOTONIC, which, like the product's raw uptime
// clock, stops during suspend.
#include "system_services/system_clock.h"

#include <time.h>

#include <cstdint>
#include <cstdlib>

#include "bridge_core/log.h"

namespace quenra {
namespace {

struct timespec timeOf(clockid_t clock) {
    struct timespec now {};
    if (::clock_gettime(clock, &now) != 0) {
        Log::note("clock-failed");
        std::abort();
    }
    return now;
}

}  // namespace

// Whole milliseconds: stored times need no finer steps, and the record writer turns whole
// thousandths into text with integer arithmetic alone.
double SystemClock::wallNow() {
    const struct timespec now = timeOf(CLOCK_REALTIME);
    const auto milliseconds = static_cast<std::int64_t>(now.tv_sec) * 1000 +
                              static_cast<std::int64_t>(now.tv_nsec) / 1000000;
    return static_cast<double>(milliseconds) / 1000;
}

double SystemClock::monotonicNow() {
    const struct timespec now = timeOf(CLOCK_MONOTONIC);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace quenra
