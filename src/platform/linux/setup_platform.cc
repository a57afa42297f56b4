// Setup facts on the Linux stand-in: the browsers' Linux folders from the browser table. The
// bundle's install roots are the same as on the product.
#include "platform/setup_platform.h"

namespace quenra {

SetupPlatform::DesktopSystem SetupPlatform::desktopSystem() {
    return DesktopSystem::Linux;
}

std::string SetupPlatform::systemApplicationsDirectory() {
    return "/Applications";
}

}  // namespace quenra
