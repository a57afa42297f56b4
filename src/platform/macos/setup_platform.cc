// Setup facts on macOS: the browsers' folders under Application Support from the browser table
// and the system applications folder.
#include "platform/setup_platform.h"

namespace quenra {

SetupPlatform::DesktopSystem SetupPlatform::desktopSystem() {
    return DesktopSystem::macOS;
}

std::string SetupPlatform::systemApplicationsDirectory() {
    return "/Applications";
}

}  // namespace quenra
