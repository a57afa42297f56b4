// A repeatable random source: scripted byte strings first (to force a chosen id), then a
// seeded sequence, so two sources with the same seed give the same ids.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <vector>

#include "bridge_core/services.h"

namespace quenra::testing {

class DeterministicRandom final : public RandomSource {
  public:
    explicit DeterministicRandom(std::uint64_t seed = 0x9e3779b97f4a7c15u) : state_(seed | 1) {}

    // The next bytes(count) call returns exactly these bytes (count must match).
    void script(std::vector<std::uint8_t> bytes) { scripted_.push_back(std::move(bytes)); }

    std::vector<std::uint8_t> bytes(std::size_t count) override {
        ++calls_;
        if (!scripted_.empty()) {
            std::vector<std::uint8_t> next = std::move(scripted_.front());
            scripted_.pop_front();
            if (next.size() != count) {
                throw std::logic_error("scripted random bytes of the wrong length");
            }
            return next;
        }
        std::vector<std::uint8_t> result(count);
        for (std::uint8_t& byte : result) {
            // xorshift64*
            state_ ^= state_ >> 12;
            state_ ^= state_ << 25;
            state_ ^= state_ >> 27;
            byte = static_cast<std::uint8_t>((state_ * 0x2545f4914f6cdd1du) >> 56);
        }
        return result;
    }

    int calls() const { return calls_; }

  private:
    std::uint64_t state_;
    std::deque<std::vector<std::uint8_t>> scripted_;
    int calls_ = 0;
};

}  // namespace quenra::testing
