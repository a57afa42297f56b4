// Setup facts on the Linux stand-in: the browsers' Linux folders from the browser table.
#include "platform/setup_platform.h"

namespace quenra {

SetupPlatform::DesktopSystem SetupPlatform::desktopSystem() {
    return DesktopSystem::Linux;
}

}  // namespace quenra
