// Fresh memory on Linux: an anonymous mapping aligned to 2 MiB and advised to be backed by
// transparent huge pages, which the system uses here only where a program asks for them.
#include "platform/fresh_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace quenra {
namespace {

constexpr std::size_t hugePage = std::size_t{2} << 20;

// Whole huge pages, so that the last part of the buffer can have one too.
std::size_t mappedSize(std::size_t bytes) {
    return (bytes + hugePage - 1) / hugePage * hugePage;
}

}  // namespace

void* FreshMemory::obtain(std::size_t bytes) {
    if (bytes > SIZE_MAX - 2 * hugePage) {
        return nullptr;
    }
    const std::size_t size = mappedSize(bytes);
    // Mapped a huge page larger than needed, then trimmed to the aligned part: a huge page can
    // only back an aligned 2 MiB of the address space.
    void* mapped = ::mmap(nullptr, size + hugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        return nullptr;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + hugePage - 1) / hugePage * hugePage;
    if (aligned > start) {
        ::munmap(mapped, aligned - start);
    }
    ::munmap(reinterpret_cast<void*>(aligned + size), start + hugePage - aligned);
    void* memory = reinterpret_cast<void*>(aligned);
    // Only advice: without huge pages the memory is just as usable.
    (void)::madvise(memory, size, MADV_HUGEPAGE);
    return memory;
}

void FreshMemory::giveBack(void* memory, std::size_t bytes) {
    ::munmap(memory, mappedSize(bytes));
}

}  // namespace quenra
