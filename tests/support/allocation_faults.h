// Makes chosen allocations fail, so that tests can show what running out of memory leads to.
// The failures take effect in a program whose global operator new and delete are replaced by
// support/replaced_allocation.h, which goes into exactly one of its source files. Until a
// failure is armed, allocation is plain malloc and free.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace quenra::testing::AllocationFaults {

inline std::atomic<std::uint64_t> failAt{0};  // the count at which one allocation fails; 0: none
inline std::atomic<std::uint64_t> counted{0};
inline std::atomic<std::size_t> failFromBytes{0};  // every allocation this large fails; 0: none
inline std::atomic<std::uint64_t> failures{0};
inline std::atomic<std::uint64_t> allocated{0};  // bytes, every allocation that succeeded
inline thread_local bool starved = false;        // every allocation of this thread fails
// A descriptor that gets one byte for each failure, for a child that ends without returning.
inline std::atomic<int> failureReport{-1};

// The n-th allocation from now (1 is the next), on any thread, fails once.
inline void failNth(std::uint64_t n) {
    failures = 0;
    counted = 0;
    failAt = n;
}

// Every allocation of at least bytes fails, on any thread, until clear().
inline void failFrom(std::size_t bytes) {
    failures = 0;
    failFromBytes = bytes;
}

// Every allocation made on the calling thread from now on fails, until the thread ends.
inline void starveThisThread() {
    starved = true;
}

inline void clear() {
    failAt = 0;
    failFromBytes = 0;
}

// The bytes of every allocation made through operator new so far, on any thread; 0 in a
// program whose operators are not replaced.
inline std::uint64_t allocatedBytes() {
    return allocated.load();
}

// How many allocations failed since the last failNth or failFrom.
inline std::uint64_t failed() {
    return failures.load();
}

inline bool shouldFail(std::size_t size) {
    const std::size_t from = failFromBytes.load(std::memory_order_relaxed);
    const std::uint64_t at = failAt.load(std::memory_order_relaxed);
    bool fail = starved || (from != 0 && size >= from);
    if (at != 0 && counted.fetch_add(1) + 1 == at) {
        fail = true;
    }
    if (fail) {
        failures.fetch_add(1);
        if (const int report = failureReport.load(); report >= 0) {
            const char failed = 1;
            [[maybe_unused]] const ssize_t written = ::write(report, &failed, 1);
        }
    }
    return fail;
}

// Out of line, so that no compiler pairs a free() it sees inlined with an operator new.
[[gnu::noinline]] inline void release(void* block) {
    std::free(block);
}

inline void* allocate(std::size_t size, std::size_t alignment) {
    if (shouldFail(size)) {
        return nullptr;
    }
    allocated.fetch_add(size, std::memory_order_relaxed);
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size > 0 ? size : 1);
    } else if (::posix_memalign(&block, alignment, size > 0 ? size : 1) != 0) {
        block = nullptr;
    }
    return block;
}

}  // namespace quenra::testing::AllocationFaults
