// Random bytes on Linux: getrandom(2), which may return fewer bytes than asked for.
#include "platform/secure_random.h"

#include <sys/random.h>

#include <cerrno>

namespace quenra {

bool SecureRandom::fill(std::span<std::uint8_t> bytes) {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace quenra
