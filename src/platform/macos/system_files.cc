// File-system calls on macOS: renamex_np with RENAME_EXCL, no access-time flag, and pipes made
// close-on-exec by hand.
#include "platform/system_files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quenra {

bool SystemFiles::renameWithoutReplacing(const char* from, const char* to) {
    return ::renamex_np(from, to, RENAME_EXCL) == 0;
}

const int SystemFiles::leaveAccessTimeFlag = 0;

SystemFiles::Times SystemFiles::timesOf(const struct stat& status) {
    const auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    return {nanoseconds(status.st_mtimespec), nanoseconds(status.st_ctimespec)};
}

bool SystemFiles::openPipe(int ends[2]) {
    // macOS has no pipe2. Our programs start their children from one thread only, so no child
    // can be started between the two calls and inherit the ends.
    if (::pipe(ends) != 0) {
        return false;
    }
    for (int index = 0; index < 2; ++index) {
        if (::fcntl(ends[index], F_SETFD, FD_CLOEXEC) != 0) {
            const int saved = errno;
            ::close(ends[0]);
            ::close(ends[1]);
            errno = saved;
            return false;
        }
    }
    return true;
}

}  // namespace quenra
