// A clock that tests set by hand, so expiry and lock deadlines are driven without waiting.
#pragma once

#include <ctime>

#include "bridge_core/services.h"

namespace quenra::testing {

class ManualClock final : public BridgeClock {
  public:
    explicit ManualClock(double wall = 1'700'000'000.0, double monotonic = 1000.0)
        : wall_(wall), monotonic_(monotonic) {}

    double wallNow() override { return wall_; }
    // Each read advances the monotonic clock by the step afterwards, so a loop that waits for a
    // deadline ends after a known number of reads.
    double monotonicNow() override {
        const double now = monotonic_;
        monotonic_ += monotonicStep_;
        return now;
    }

    // A clock whose wall time stands seconds after the real time now (whole seconds): for the
    // tests whose other processes read the real clock.
    static ManualClock secondsFromNow(double seconds) {
        return ManualClock(static_cast<double>(std::time(nullptr)) + seconds);
    }

    void setWall(double wall) { wall_ = wall; }
    void advanceWall(double seconds) { wall_ += seconds; }
    void setMonotonic(double monotonic) { monotonic_ = monotonic; }
    void advanceMonotonic(double seconds) { monotonic_ += seconds; }
    void setMonotonicStep(double step) { monotonicStep_ = step; }

  private:
    double wall_;
    double monotonic_;
    double monotonicStep_ = 0;
};

}  // namespace quenra::testing
