#include "native_host/output.h"

#include <unistd.h>

#include <cerrno>

namespace quenra::Output {

bool write(std::span<const std::uint8_t> bytes) {
    return writeAll(STDOUT_FILENO, bytes);
}

bool writeAll(int descriptor, std::span<const std::uint8_t> bytes) {
    std::size_t position = 0;
    while (position < bytes.size()) {
        ssize_t written = ::write(descriptor, bytes.data() + position, bytes.size() - position);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        // A zero-byte write of a non-empty request would loop forever; treat it as broken.
        if (written == 0)
            return false;
        position += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace quenra::Output
