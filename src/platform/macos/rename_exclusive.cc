// The exclusive rename on macOS: renamex_np with RENAME_EXCL fails with EEXIST instead of
// replacing the target, in one step.
#include <stdio.h>

#include <cerrno>

#include "bridge_core/files.h"

namespace quenra {

void Files::renameExclusive(const std::string& from, const std::string& to) {
    if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) != 0) {
        throw FileFailure("rename", errno);
    }
}

}  // namespace quenra
