// The production random source over the system's secure generator, the same on every system.
#include "system_services/system_random.h"

#include <cstdlib>

#include "bridge_core/log.h"
#include "platform/secure_random.h"

namespace quenra {

std::vector<std::uint8_t> SystemRandom::bytes(std::size_t count) {
    std::vector<std::uint8_t> result(count);
    if (!SecureRandom::fill(result)) {
        // Ids and tokens without entropy would be guessable; no caller can do better.
        Log::note("random-failed");
        std::abort();
    }
    return result;
}

}  // namespace quenra
