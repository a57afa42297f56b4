// The production clock: the system's wall clock and its monotonic clock. Defined once per
// system (linux/, macos/).
#pragma once

#include "bridge_core/services.h"

namespace quenra {

class SystemClock final : public BridgeClock {
  public:
    double wallNow() override;
    // Stops while the machine sleeps (CLOCK_MONOTONIC on Linux, CLOCK_UPTIME_RAW on macOS).
    double monotonicNow() override;
};

}  // namespace quenra
