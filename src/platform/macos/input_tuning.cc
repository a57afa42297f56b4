#include "platform/input_tuning.h"

namespace quenra::InputTuning {

// macOS sizes pipe buffers itself and has no transparent huge pages to ask for.
void widenPipe(int) {}

void preferHugePages(void*, std::size_t) {}

// macOS's allocator has no such setting; it serves blocks this large from regions of their own.
void mapLargeAllocations(std::size_t) {}

}  // namespace quenra::InputTuning
