// Replaces the program's global operator new and delete with those of AllocationFaults, so that
// the failures it arms take effect. Include in exactly one source file of a test program.
#pragma once

#include "support/allocation_faults.h"

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
