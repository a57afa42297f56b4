// Setup facts on macOS: the browsers' folders under Application Support from the browser table,
// the system applications folder, Foundation's random UUIDs, and pipes made close-on-exec by hand.
#include "setup_core/setup_platform.h"

#import <Foundation/Foundation.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quenra {

SetupPlatform::DesktopSystem SetupPlatform::desktopSystem() {
    return DesktopSystem::macOS;
}

std::string SetupPlatform::systemApplicationsDirectory() {
    return "/Applications";
}

std::string SetupPlatform::randomUUID() {
    @autoreleasepool {
        // A version 4 UUID, upper-case and hyphenated.
        return std::string([[[NSUUID UUID] UUIDString] UTF8String]);
    }
}

bool SetupPlatform::openPipe(int ends[2]) {
    // macOS has no pipe2. The setup program starts its children from the main thread only, so
    // no child can be started between the two calls and inherit the ends.
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
