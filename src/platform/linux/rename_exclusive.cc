// The exclusive rename on Linux: renameat2 with RENAME_NOREPLACE fails with EEXIST instead of
// replacing the target, in one step.
#include <fcntl.h>
#include <stdio.h>

#include <cerrno>

#include "bridge_core/files.h"

namespace quenra {

void Files::renameExclusive(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        throw FileFailure("rename", errno);
    }
}

}  // namespace quenra
