// SHA-256 in the form used on the wire and in cache records. Declared here, defined by the
// platform layer (OpenSSL on Linux, CommonCrypto on macOS).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quenra::Hashing {

using Digest = std::array<std::uint8_t, 32>;

Digest sha256(std::span<const std::uint8_t> data);

// 64 lowercase hexadecimal digits, most significant nibble first.
std::string sha256Hex(std::span<const std::uint8_t> data);

// The digest as 64 lowercase hexadecimal digits.
std::string hex(const Digest& digest);

// SHA-256 of data that arrives in pieces: the same digest as sha256 of the pieces joined.
// Construction starts a digest, update adds a piece (empty ones too), final ends it; a digest
// that has ended takes no more pieces.
class IncrementalSHA256 {
  public:
    IncrementalSHA256();

    void update(std::span<const std::uint8_t> piece);
    Digest final();

  private:
    // The platform library's digest state, and how it is freed.
    struct State;
    struct Free {
        void operator()(State* state) const;
    };
    std::unique_ptr<State, Free> state_;
};

}  // namespace quenra::Hashing
