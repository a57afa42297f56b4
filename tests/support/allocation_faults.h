// Makes chosen allocations fail, so that tests can show what running out of memory leads to.
// Including this header replaces the program's global operator new and delete; it goes into
// exactly one source file of a test program. Until a failure is armed, allocation is plain
// malloc and free.
#pragma once

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

inline void clear() {
    failAt = 0;
    failFromBytes = 0;
}

// How many allocations failed since the last failNth or failFrom.
inline std::uint64_t failed() {
    return failures.load();
}

inline bool shouldFail(std::size_t size) {
    const std::size_t from = failFromBytes.load(std::memory_order_relaxed);
    const std::uint64_t at = failAt.load(std::memory_order_relaxed);
    bool fail = from != 0 && size >= from;
    if (at != 0 && counted.fetch_add(1) + 1 == at) {
        fail = true;
    }
    if (fail) {
        failures.fetch_add(1);
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
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size > 0 ? size : 1);
    } else if (::posix_memalign(&block, alignment, size > 0 ? size : 1) != 0) {
        block = nullptr;
    }
    return block;
}

}  // namespace quenra::testing::AllocationFaults

void* operator new(std::size_t size) {
    if (void* block = quenra::testing::AllocationFaults::allocate(size, 0)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* block = quenra::testing::AllocationFaults::allocate(
            size, static_cast<std::size_t>(alignment))) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return quenra::testing::AllocationFaults::allocate(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return quenra::testing::AllocationFaults::allocate(size, 0);
}
void operator delete(void* block) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
void operator delete[](void* block) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    quenra::testing::AllocationFaults::release(block);
}
