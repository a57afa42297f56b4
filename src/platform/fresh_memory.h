// Memory for one large buffer, taken fresh from the system rather than from the heap: it reads
// as zero until written, costs nothing until touched, and goes back to the system whole when
// given back, so a process that has finished with it keeps none of it. Where the system can
// back it with larger pages (Linux's transparent huge pages), it asks for them: a buffer
// written from start to end then meets one page fault for each 2 MiB instead of 512.
#pragma once

#include <cstddef>

namespace quenra::FreshMemory {

// At least bytes (more than 0) of fresh memory, or nullptr when the system has none to give.
void* obtain(std::size_t bytes);

// Gives back what obtain returned for the same bytes.
void giveBack(void* memory, std::size_t bytes);

}  // namespace quenra::FreshMemory
