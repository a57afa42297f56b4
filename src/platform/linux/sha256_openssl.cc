// SHA-256 through OpenSSL's EVP interface.
#include <openssl/evp.h>

#include <cstdlib>
#include <new>

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

// As above, every failed call stops the process, and so does a piece after the end: OpenSSL
// would refuse it only by a return value.
struct Sha256::Incremental::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ended = false;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { EVP_MD_CTX_free(context); }
};

void Sha256::Incremental::Free::operator()(State* state) const {
    delete state;
}

Sha256::Incremental::Incremental() : state_(new State) {
    // Out of memory for the context is the caller's to handle, like any failed allocation.
    if (state_->context == nullptr) {
        throw std::bad_alloc();
    }
    if (EVP_DigestInit_ex2(state_->context, sha256Method(), nullptr) != 1) {
        std::abort();
    }
}

void Sha256::Incremental::update(std::span<const std::uint8_t> piece) {
    if (state_->ended || EVP_DigestUpdate(state_->context, piece.data(), piece.size()) != 1) {
        std::abort();
    }
}

Sha256::Digest Sha256::Incremental::final() {
    Digest digest{};
    unsigned int size = 0;
    if (state_->ended || EVP_DigestFinal_ex(state_->context, digest.data(), &size) != 1 ||
        size != digest.size()) {
        std::abort();
    }
    state_->ended = true;
    return digest;
}

}  // namespace quenra
