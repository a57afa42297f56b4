// OpenSSL's own allocations made to fail: a digest either comes out right or is
// std::bad_alloc, whichever allocation fails, and the library works again afterwards.
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>

#include "bridge_core/hashing.h"
#include "platform/sha256.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace quenra {
namespace {

std::atomic<int> allocationsLeft{-1};  // -1: every allocation succeeds
std::atomic<int> failures{0};

bool mayAllocate() {
    if (allocationsLeft.load() < 0) {
        return true;
    }
    if (allocationsLeft.fetch_sub(1) > 0) {
        return true;
    }
    failures.fetch_add(1);
    return false;
}

// OpenSSL's own paths out of a failed allocation in its first use (loading its provider into a
// new library context) leave a few small blocks behind, which LeakSanitizer would report. What
// is allocated while failures are armed is not looked at; everything else still is.
void* ignoredByLeakCheck(void* block) {
#if defined(__SANITIZE_ADDRESS__)
    if (block != nullptr && allocationsLeft.load() >= 0) {
        __lsan_ignore_object(block);
    }
#endif
    return block;
}

void* allocate(std::size_t size, const char*, int) {
    return mayAllocate() ? ignoredByLeakCheck(std::malloc(size)) : nullptr;
}
void* reallocate(void* block, std::size_t size, const char*, int) {
    return mayAllocate() ? ignoredByLeakCheck(std::realloc(block, size)) : nullptr;
}
void release(void* block, const char*, int) {
    std::free(block);
}

// Installed before main, ahead of the library's first allocation, which is the only time
// OpenSSL takes them.
const bool hooked = CRYPTO_set_mem_functions(allocate, reallocate, release) == 1;

struct Outcome {
    std::optional<Sha256::Digest> digest;
    int failed = 0;
};

// Runs digest with the library's allocations after the first succeeding ones failing.
template <typename Digest>
Outcome withAllocationsFailingAfter(int succeeding, Digest digest) {
    failures = 0;
    allocationsLeft = succeeding;
    Outcome outcome;
    try {
        outcome.digest = digest();
    } catch (const std::bad_alloc&) {
    }
    allocationsLeft = -1;
    outcome.failed = failures.load();
    return outcome;
}

TEST(Sha256OpenSSL, ADigestWhoseStateCannotBeMadeIsOutOfMemory) {
    ASSERT_TRUE(hooked) << "OpenSSL allocated before the test could hook it";
    const std::uint8_t data[] = {'a', 'b', 'c'};
    const Sha256::Digest abc = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    const auto whole = [&] { return Sha256::of(data); };
    const auto inPieces = [&] {
        Sha256::Incremental digest;
        digest.update(std::span(data, 1));
        digest.update(std::span(data + 1, 2));
        return digest.final();
    };
    // The library's first use (its context, the algorithm's fetch) included, then each digest's
    // own state: every allocation in turn is made to fail, until one run needs no more.
    int refused = 0;
    for (const std::function<Sha256::Digest()>& digest :
         {std::function<Sha256::Digest()>(whole), std::function<Sha256::Digest()>(inPieces)}) {
        for (int succeeding = 0;; ++succeeding) {
            ASSERT_LT(succeeding, 10000) << "the library never worked again";
            SCOPED_TRACE(succeeding);
            const Outcome outcome = withAllocationsFailingAfter(succeeding, digest);
            if (!outcome.digest) {
                ++refused;
                EXPECT_GT(outcome.failed, 0);
                continue;
            }
            EXPECT_EQ(*outcome.digest, abc);
            if (outcome.failed == 0) {
                break;
            }
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_EQ(whole(), abc);
}

}  // namespace
}  // namespace quenra
