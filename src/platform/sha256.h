// SHA-256 from the system's cryptography library (OpenSSL on Linux, CommonCrypto on macOS),
// whole or fed in pieces. Memory for a digest's state that cannot be had is std::bad_alloc, on
// every platform; a library that fails once the state is made ends the process: a wrong digest
// would be worse than stopping.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace quenra::Sha256 {

using Digest = std::array<std::uint8_t, 32>;

// The digest of data that arrives in pieces: the same digest as of() of the pieces joined.
// Construction starts it (or throws std::bad_alloc), update adds a piece (empty ones too), final
// ends it; a piece or a final after the end stops the process.
class Incremental {
  public:
    Incremental();

    void update(std::span<const std::uint8_t> piece);
    Digest final();

  private:
    // The library's digest state, and how it is freed.
    struct State;
    struct Free {
        void operator()(State* state) const;
    };
    std::unique_ptr<State, Free> state_;
};

// The digest of data in one piece.
inline Digest of(std::span<const std::uint8_t> data) {
    Incremental digest;
    digest.update(data);
    return digest.final();
}

}  // namespace quenra::Sha256
