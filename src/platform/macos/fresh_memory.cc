// Fresh memory on macOS: a plain anonymous mapping. Apple silicon's pages are 16 KiB, and
// there is no advice to ask for larger ones.
#include "platform/fresh_memory.h"

#include <sys/mman.h>

namespace quenra {

void* FreshMemory::obtain(std::size_t bytes) {
    void* memory =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
}

void FreshMemory::giveBack(void* memory, std::size_t bytes) {
    ::munmap(memory, bytes);
}

}  // namespace quenra
