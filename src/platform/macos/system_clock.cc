// The macOS clocks and generator: the raw uptime clock, which stops while the machine sleeps,
// for deadlines; the real-time clock for stored times; Security's generator for ids and tokens.
#include "platform/system_clock.h"

#include <Security/Security.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>

#include "bridge_core/identity.h"

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

std::vector<std::uint8_t> SystemRandom::bytes(std::size_t count) {
    std::vector<std::uint8_t> result(count);
    if (count == 0) {
        return result;
    }
    if (SecRandomCopyBytes(kSecRandomDefault, count, result.data()) != errSecSuccess) {
        // Ids and tokens without entropy would be guessable; no caller can do better.
        Log::note("random-failed");
        std::abort();
    }
    return result;
}

}  // namespace quenra
