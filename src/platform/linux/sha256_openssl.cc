// SHA-256 through OpenSSL's EVP interface.
#include <openssl/evp.h>

#include <cstdlib>

#include "bridge_core/hashing.h"

namespace quenra {

Hashing::Digest Hashing::sha256(std::span<const std::uint8_t> data) {
    Digest digest{};
    unsigned int size = 0;
    // EVP_Digest fails only on allocation failure or a broken library; a wrong digest would be
    // worse than stopping.
    if (EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != digest.size()) {
        std::abort();
    }
    return digest;
}

}  // namespace quenra
