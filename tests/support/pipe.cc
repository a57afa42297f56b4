#include "support/pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quenra::testing {

int closeOnExecPipe(int ends[2]) {
    if (::pipe(ends) != 0) {
        return -1;
    }
    for (int index = 0; index < 2; ++index) {
        if (::fcntl(ends[index], F_SETFD, FD_CLOEXEC) != 0) {
            const int saved = errno;
            ::close(ends[0]);
            ::close(ends[1]);
            errno = saved;
            return -1;
        }
    }
    return 0;
}

}  // namespace quenra::testing
