// What a directory holds, for the tests and tools that look at what the cache left on disk.
#pragma once

#include <string>
#include <vector>

#include "bridge_core/files.h"

namespace quenra::testing {

// The names in directory, hidden ones included, unsorted; empty when it is not a directory of
// ours that can be read.
inline std::vector<std::string> namesIn(const std::string& directory) {
    return Files::namesAt(Files::openOwnDirectory(directory).get())
        .value_or(std::vector<std::string>{});
}

}  // namespace quenra::testing
