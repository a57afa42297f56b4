// SHA-256 through OpenSSL's EVP interface.
#include <openssl/evp.h>

#include <cstdlib>

#include "platform/sha256.h"

namespace quenra {
namespace {

// Fetched once and kept for the process: EVP_sha256() names the algorithm only, so every digest
// made with it looks the implementation up in the providers again, which costs more than
// hashing a small clip. A method that cannot be fetched means a broken library.
const EVP_MD* sha256Method() {
    static EVP_MD* const method = [] {
        EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA2-256", nullptr);
        if (fetched == nullptr) {
            std::abort();
        }
        return fetched;
    }();
    return method;
}

}  // namespace

Sha256::Digest Sha256::of(std::span<const std::uint8_t> data) {
    Digest digest{};
    unsigned int size = 0;
    // EVP_Digest fails only on allocation failure or a broken library.
    if (EVP_Digest(data.data(), data.size(), digest.data(), &size, sha256Method(), nullptr) != 1 ||
        size != digest.size()) {
        std::abort();
    }
    return digest;
}

}  // namespace quenra
