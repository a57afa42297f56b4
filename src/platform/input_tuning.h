// Platform help for taking in a large request quickly: a wider standard-input pipe, so the
// browser's writes and our reads need fewer turns, huge pages for the large buffer a body is
// collected in, so a 24 MiB frame is not paid for in thousands of first-touch page faults, and
// large buffers given back when freed, so a request does not keep copies of itself resident.
// All are advice: where the platform cannot, nothing happens and nothing is reported.
#pragma once

#include <cstddef>

namespace quenra::InputTuning {

// Asks for a pipe buffer of 1 MiB when descriptor is a pipe and the system allows it.
void widenPipe(int descriptor);

// Advises the system to back [start, start + length) with huge pages where it can.
void preferHugePages(void* start, std::size_t length);

// Asks the allocator to give every allocation of threshold bytes or more a mapping of its own,
// returned to the system when it is freed, where the allocator has such a setting.
void mapLargeAllocations(std::size_t threshold);

}  // namespace quenra::InputTuning
