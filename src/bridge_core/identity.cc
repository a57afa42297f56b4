#include "bridge_core/identity.h"

#include <unistd.h>

namespace quenra {

const std::vector<std::string>& Identity::capabilities() {
    static const std::vector<std::string> list{"drag-takeover-1"};
    return list;
}

const std::set<std::string, std::less<>>& Identity::allowedCallers() {
    static const std::set<std::string, std::less<>> origins{
        "chrome-extension://" + std::string(releaseExtensionID) + "/",
        "chrome-extension://" + std::string(developmentExtensionID) + "/",
    };
    return origins;
}

bool Identity::isAllowedCaller(std::string_view origin) {
    return allowedCallers().contains(origin);
}

const Limits& Limits::standard() {
    static const Limits limits{};
    return limits;
}

void Log::note(std::string_view message) {
    std::string line;
    line.reserve(message.size() + 21);
    line.append("quenra-native-host: ");
    line.append(message);
    line.push_back('\n');
    [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace quenra
