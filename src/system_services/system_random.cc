// The production random source over the system's secure generator, the same on every system.
#include "system_services/system_random.h"

#include <algorithm>
#include <cstdlib>

#include "bridge_core/log.h"
#include "platform/secure_random.h"

namespace quenra {
namespace {

void fill(std::span<std::uint8_t> bytes) {
    if (!SecureRandom::fill(bytes)) {
        // Ids and tokens without entropy would be guessable; no caller can do better.
        Log::note("random-failed");
        std::abort();
    }
}

}  // namespace

std::vector<std::uint8_t> SystemRandom::bytes(std::size_t count) {
    std::vector<std::uint8_t> result(count);
    if (count > pool_.size() / 4) {
        fill(result);
        return result;
    }
    const std::lock_guard hold(mutex_);
    if (pool_.size() - used_ < count) {
        fill(pool_);
        used_ = 0;
    }
    const auto first = pool_.begin() + static_cast<std::ptrdiff_t>(used_);
    std::copy_n(first, count, result.begin());
    std::fill_n(first, count, std::uint8_t{0});
    used_ += count;
    return result;
}

}  // namespace quenra
