// Counts the bytes a fuzz target holds on the heap, for checks that some work never holds more
// than a bound. Including this header replaces the program's global operator new and delete,
// so it goes into exactly one source file of a target (each target is one). Sizes are the
// allocator's usable sizes, counted alike on allocation and release.
#pragma once

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace quenra::HeldMemory {

inline std::atomic<std::size_t> held{0};
inline std::atomic<std::size_t> peak{0};

// Bytes held now through operator new.
inline std::size_t current() {
    return held.load(std::memory_order_relaxed);
}

// Starts a new peak from what is held now, and returns it.
inline std::size_t restartPeak() {
    const std::size_t now = current();
    peak.store(now, std::memory_order_relaxed);
    return now;
}

inline std::size_t highest() {
    return peak.load(std::memory_order_relaxed);
}

inline void* taken(void* block) {
    if (block != nullptr) {
        const std::size_t now =
            held.fetch_add(malloc_usable_size(block), std::memory_order_relaxed) +
            malloc_usable_size(block);
        std::size_t seen = peak.load(std::memory_order_relaxed);
        while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
        }
    }
    return block;
}

inline void given(void* block) {
    if (block != nullptr) {
        held.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
        std::free(block);
    }
}

inline void* allocate(std::size_t size, std::size_t alignment) {
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        block = std::malloc(size > 0 ? size : 1);
    } else if (::posix_memalign(&block, alignment, size > 0 ? size : 1) != 0) {
        block = nullptr;
    }
    return taken(block);
}

}  // namespace quenra::HeldMemory

void* operator new(std::size_t size) {
    if (void* block = quenra::HeldMemory::allocate(size, 0)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* block = quenra::HeldMemory::allocate(size, static_cast<std::size_t>(alignment))) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return quenra::HeldMemory::allocate(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return quenra::HeldMemory::allocate(size, 0);
}
void operator delete(void* block) noexcept {
    quenra::HeldMemory::given(block);
}
void operator delete[](void* block) noexcept {
    quenra::HeldMemory::given(block);
}
void operator delete(void* block, std::size_t) noexcept {
    quenra::HeldMemory::given(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    quenra::HeldMemory::given(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    quenra::HeldMemory::given(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    quenra::HeldMemory::given(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    quenra::HeldMemory::given(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    quenra::HeldMemory::given(block);
}
