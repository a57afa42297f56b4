// The few file-system calls that differ between the systems. Each reports failure the POSIX way:
// false (or -1) with errno set.
#pragma once

namespace quenra::SystemFiles {

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
