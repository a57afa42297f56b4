// The production random source: the system's cryptographically secure generator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "bridge_core/services.h"

namespace quenra {

class SystemRandom final : public RandomSource {
  public:
    // A generator failure ends the process.
    std::vector<std::uint8_t> bytes(std::size_t count) override;

  private:
    // Small draws (names, tokens: 8 to 32 bytes) are served from one read of the generator, so
    // that a list's sixteen names cost one system call, not sixteen. Each byte is handed out
    // once and wiped as it goes.
    std::mutex mutex_;
    std::array<std::uint8_t, 256> pool_{};
    std::size_t used_ = pool_.size();
};

}  // namespace quenra
