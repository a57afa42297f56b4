// What the tests of one cache shared by several processes start from: a cache folder of its
// own, the system's clock and random source that each process's cache runs on (as the host's
// does), and a small clip with the digest it is filed under.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/temporary_directory.h"
#include "system_services/system_clock.h"
#include "system_services/system_random.h"

namespace quenra::testing {

class CacheProcesses : public ::testing::Test {
  public:
    // A MIDI header chunk: format 0, one track, 96 ticks to the quarter note.
    static inline const std::vector<std::uint8_t> clip = {'M', 'T', 'h', 'd', 0, 0, 0,
                                                          6,   0,   0,   0,   1, 0, 96};
    // The cache keeps the digest it is given, so any 64 hex digits do.
    static inline const std::string digest = std::string(64, 'c');

  protected:
    TemporaryDirectory temporary;
    const std::string root = temporary.join("cache");
    SystemClock systemClock;
    SystemRandom random;
};

}  // namespace quenra::testing
