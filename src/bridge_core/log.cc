#include "bridge_core/log.h"

#include <unistd.h>

#include <string>

namespace quenra {

void Log::note(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 21);
    line.append("quenra-native-host: ");
    line.append(message);
    line.push_back('\n');
    [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace quenra
