// The few file-system calls that differ between the systems. Each reports failure the POSIX way:
// false (or -1) with errno set.
#pragma once

#include <cstdint>

struct stat;

namespace quenra::SystemFiles {

// An item's modification and status-change times from its stat, in nanoseconds since the epoch:
// the systems give these fields different names.
struct Times {
    std::int64_t modified = 0;
    std::int64_t changed = 0;
};
Times timesOf(const struct stat& status);

// Renames from to to in one step, failing with EEXIST instead of replacing anything there.
bool renameWithoutReplacing(const char* from, const char* to);

// An open(2) flag that keeps a read from updating the file's access time where the system has
// one (Linux), else 0. An open with it fails with EPERM on a file that is not the caller's.
extern const int leaveAccessTimeFlag;

// A pipe whose two ends are close-on-exec, so no program started later inherits them. Where the
// system cannot make such a pipe in one call (macOS), the ends are marked just after the pipe is
// made: a caller that starts programs from several threads keeps them from starting in between.
bool openPipe(int ends[2]);

}  // namespace quenra::SystemFiles
