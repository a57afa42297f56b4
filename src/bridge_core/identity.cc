#include "bridge_core/identity.h"

namespace quenra {

const std::vector<std::string>& Identity::capabilities() {
    static const std::vector<std::string> list{"drag-takeover-1", "multi-clip-drag-1",
                                               "audio-clip-1"};
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

}  // namespace quenra
