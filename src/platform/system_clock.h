// The production clock and random source: the system's wall and monotonic clocks and its
// cryptographically secure generator. Defined by each platform layer.
#pragma once

#include "bridge_core/services.h"

namespace quenra {

class SystemClock final : public BridgeClock {
  public:
    double wallNow() override;
    // Stops while the machine sleeps (CLOCK_MONOTONIC on Linux, CLOCK_UPTIME_RAW on macOS).
    double monotonicNow() override;
};

class SystemRandom final : public RandomSource {
  public:
    // A generator failure ends the process.
    std::vector<std::uint8_t> bytes(std::size_t count) override;
};

}  // namespace quenra
