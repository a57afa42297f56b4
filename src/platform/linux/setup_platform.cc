// Setup facts on the Linux stand-in: the browsers' Linux folders from the browser table and
// getrandom(2) for UUIDs. The bundle's install roots are the same as on the product.
#include "setup_core/setup_platform.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace quenra {

SetupPlatform::DesktopSystem SetupPlatform::desktopSystem() {
    return DesktopSystem::Linux;
}

std::string SetupPlatform::systemApplicationsDirectory() {
    return "/Applications";
}

std::string SetupPlatform::randomUUID() {
    std::uint8_t bytes[16];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t count = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Without random bytes no backup name or session id can be trusted to be fresh.
            std::abort();
        }
        filled += static_cast<std::size_t>(count);
    }
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

bool SetupPlatform::openPipe(int ends[2]) {
    return ::pipe2(ends, O_CLOEXEC) == 0;
}

}  // namespace quenra
