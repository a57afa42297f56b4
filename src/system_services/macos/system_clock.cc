// The macOS clocks: the raw uptime clock, which stops while the machine sleeps, for deadlines;
// the real-time clock for stored times.
#include "system_services/system_clock.h"

#include <time.h>

#include <cstdint>
#include <cstdlib>

#include "bridge_core/log.h"

namespace quenra {
namespace {

std::uint64_t nanosecondsOf(clockid_t clock) {
    const std::uint64_t nanoseconds = clock_gettime_nsec_np(clock);
    // Zero is the call's only failure report; a clock that cannot be read cannot be waited on.
    if (nanoseconds == 0) {
        Log::note("clock-failed");
        std::abort();
    }
    return nanoseconds;
}

}  // namespace

// Whole milliseconds: stored times need no finer steps, and the record writer turns whole
// thousandths into text with integer arithmetic alone.
double SystemClock::wallNow() {
    return static_cast<double>(nanosecondsOf(CLOCK_REALTIME) / 1000000) / 1000;
}

double SystemClock::monotonicNow() {
    return static_cast<double>(nanosecondsOf(CLOCK_UPTIME_RAW)) / 1e9;
}

}  // namespace quenra
