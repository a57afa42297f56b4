// SHA-256 through OpenSSL's EVP interface.
#include <openssl/evp.h>

#include <cstdlib>
#include <new>

#include "platform/sha256.h"

namespace quenra {
namespace {

// The algorithm, fetched once from a library context of the host's own and kept for the
// process: EVP_sha256() names the algorithm only, so every digest made with it looks the
// implementation up in the providers again, which costs more than hashing a small clip; and the
// system's configuration file, which could ask for providers or properties the host has no use
// for, is never read. Making either can fail only for memory (or a broken library, which
// cannot be told apart): that is std::bad_alloc, and the next digest tries again.
const EVP_MD* sha256Method() {
    static EVP_MD* const method = [] {
        OSSL_LIB_CTX* const library = OSSL_LIB_CTX_new();
        if (library == nullptr) {
            throw std::bad_alloc();
        }
        EVP_MD* const fetched = EVP_MD_fetch(library, "SHA2-256", nullptr);
        if (fetched == nullptr) {
            OSSL_LIB_CTX_free(library);
            throw std::bad_alloc();
        }
        // The context stays for the process, with the method fetched from it.
        return fetched;
    }();
    return method;
}

}  // namespace

// Every call after the digest's state is made is plain arithmetic on it: one that fails means a
// broken library and stops the process, and so does a piece after the end, which OpenSSL would
// refuse only by a return value.
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
    // The context, and the provider's state that the first initialisation allocates, are
    // memory like any other: the caller's to handle when there is none.
    if (state_->context == nullptr ||
        EVP_DigestInit_ex2(state_->context, sha256Method(), nullptr) != 1) {
        throw std::bad_alloc();
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
