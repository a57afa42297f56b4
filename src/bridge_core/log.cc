#include "bridge_core/log.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace quenra {

void Log::note(std::string_view message) noexcept {
    static constexpr std::string_view prefix = "quenra-native-host: ";
    char line[maxLineBytes];
    std::size_t kept = std::min(message.size(), sizeof line - prefix.size() - 1);
    // Never half a UTF-8 sequence: a cut inside one moves back to where it starts.
    if (kept < message.size()) {
        while (kept > 0 && (static_cast<unsigned char>(message[kept]) & 0xC0) == 0x80) {
            --kept;
        }
    }
    std::memcpy(line, prefix.data(), prefix.size());
    std::memcpy(line + prefix.size(), message.data(), kept);
    line[prefix.size() + kept] = '\n';
    [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, line, prefix.size() + kept + 1);
}

}  // namespace quenra
