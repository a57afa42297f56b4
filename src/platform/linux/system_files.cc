// File-system calls on Linux: renameat2 with RENAME_NOREPLACE, O_NOATIME, pipe2.
#include "platform/system_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenra {

bool SystemFiles::renameWithoutReplacing(const char* from, const char* to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0;
}

// A read of the cache then queues no inode write that the next flush of a new entry would have
// to commit along with it.
const int SystemFiles::leaveAccessTimeFlag = O_NOATIME;

SystemFiles::Times SystemFiles::timesOf(const struct stat& status) {
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    return {nanoseconds(status.st_mtim), nanoseconds(status.st_ctim)};
}

bool SystemFiles::openPipe(int ends[2]) {
    return ::pipe2(ends, O_CLOEXEC) == 0;
}

}  // namespace quenra
