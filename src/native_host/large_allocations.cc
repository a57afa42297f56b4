// The host program's allocation policy: every allocation of 1 MiB or more is laid out on whole,
// aligned 2 MiB pages and advised onto huge pages before anything touches it. A PREPARE passes
// through several buffers of its size (the frame, the parsed text, the decoded clip), each
// fresh memory in a process that serves one connection; in 4 KiB pages their first-touch
// faults cost more than the work itself. The rounding costs address space, not memory, beyond
// the last huge page touched. Linked into the host executable only, not into the library the
// tests share.
//
// Each such buffer is also given back to the system when it is freed. glibc would otherwise
// raise its mapping threshold after the first large free and serve the next ones from an arena
// it keeps, and the body is freed by a thread other than the one that made it, so its pages
// could not even be reused by the parse that follows: a 16 MiB request would keep three copies
// of itself resident instead of two.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/input_tuning.h"

namespace {

constexpr std::size_t largeAllocation = std::size_t{1} << 20;
constexpr std::size_t hugePage = std::size_t{2} << 20;

// Setting the threshold fixes it: every allocation from 1 MiB on is a mapping of its own,
// unmapped by free.
[[maybe_unused]] const bool mappedLargeAllocations = [] {
    quenra::InputTuning::mapLargeAllocations(largeAllocation);
    return true;
}();

}  // namespace

void* operator new(std::size_t size) {
    void* memory = nullptr;
    if (size >= largeAllocation && size <= SIZE_MAX - hugePage) {
        std::size_t rounded = (size + hugePage - 1) / hugePage * hugePage;
        memory = std::aligned_alloc(hugePage, rounded);
        if (memory != nullptr)
            quenra::InputTuning::preferHugePages(memory, rounded);
    } else {
        memory = std::malloc(size == 0 ? 1 : size);
    }
    if (memory == nullptr)
        throw std::bad_alloc();
    return memory;
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
