// Setup facts on macOS: Chrome's profile folder under Application Support, and the system's
// random source for UUIDs.
#include "setup_core/setup_platform.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace quenra {

std::string SetupPlatform::chromeUserDataRelativePath() {
    return "Library/Application Support/Google/Chrome";
}

std::string SetupPlatform::systemApplicationsDirectory() {
    return "/Applications";
}

std::string SetupPlatform::randomUUID() {
    std::uint8_t bytes[16];
    ::arc4random_buf(bytes, sizeof bytes);  // cannot fail
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t index = 0; index < sizeof bytes; ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            text.push_back('-');
        }
        text.push_back(digits[bytes[index] >> 4]);
        text.push_back(digits[bytes[index] & 0x0f]);
    }
    return text;
}

// macOS has no pipe2. The setup program starts helpers from its main thread only, and nothing
// else in it starts programs, so no exec can fall between pipe() and the two fcntl calls.
bool SetupPlatform::openPipe(int ends[2]) {
    if (::pipe(ends) != 0) {
        return false;
    }
    if (::fcntl(ends[0], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(ends[1], F_SETFD, FD_CLOEXEC) != 0) {
        const int error = errno;
        ::close(ends[0]);
        ::close(ends[1]);
        errno = error;
        return false;
    }
    return true;
}

}  // namespace quenra
