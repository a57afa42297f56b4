// Setup facts on macOS: the browsers' folders under Application Support from the browser table.
#include "platform/setup_platform.h"

namespace quenra {

SetupPlatform::DesktopSystem SetupPlatform::desktopSystem() {
    return DesktopSystem::macOS;
}

}  // namespace quenra
