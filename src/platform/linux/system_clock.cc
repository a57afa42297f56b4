// The Linux clocks and generator: CLOCK_REALTIME, CLOCK_MONOTONIC (which, like the product's
// raw uptime clock, stops during suspend) and getrandom(2).
#include "platform/system_clock.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "bridge_core/identity.h"

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

std::vector<std::uint8_t> SystemRandom::bytes(std::size_t count) {
    std::vector<std::uint8_t> result(count);
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got = ::getrandom(result.data() + filled, count - filled, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // Ids and tokens without entropy would be guessable; no caller can do better.
            Log::note("random-failed");
            std::abort();
        }
        filled += static_cast<std::size_t>(got);
    }
    return result;
}

}  // namespace quenra
