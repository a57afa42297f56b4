#include "platform/input_tuning.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

namespace quenra::InputTuning {

void widenPipe(int descriptor) {
    // Fails with EPERM above /proc/sys/fs/pipe-max-size and EBADF for a non-pipe; the default
    // 64 KiB pipe still works, only slower.
    (void)fcntl(descriptor, F_SETPIPE_SZ, 1 << 20);
}

void preferHugePages(void* start, std::size_t length) {
    // madvise wants a page-aligned start; the pages the range only partly covers stay as
    // they are.
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize <= 0 || start == nullptr)
        return;
    auto page = static_cast<std::uintptr_t>(pageSize);
    auto first = (reinterpret_cast<std::uintptr_t>(start) + page - 1) / page * page;
    auto last = (reinterpret_cast<std::uintptr_t>(start) + length) / page * page;
    if (last <= first)
        return;
    (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void mapLargeAllocations(std::size_t threshold) {
    // glibc raises its own threshold after the first large free unless one is set, and then
    // serves later large blocks from an arena it keeps.
    if (threshold <= INT_MAX)
        (void)mallopt(M_MMAP_THRESHOLD, static_cast<int>(threshold));
}

}  // namespace quenra::InputTuning
