// The production random source: the system's cryptographically secure generator.
#pragma once

#include "bridge_core/services.h"

namespace quenra {

class SystemRandom final : public RandomSource {
  public:
    // A generator failure ends the process.
    std::vector<std::uint8_t> bytes(std::size_t count) override;
};

}  // namespace quenra
