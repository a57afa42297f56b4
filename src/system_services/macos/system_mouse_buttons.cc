#include "system_services/macos/system_mouse_buttons.h"

#include <CoreGraphics/CoreGraphics.h>

namespace quenra {

bool SystemMouseButtons::isLeftButtonDown() {
    return CGEventSourceButtonState(kCGEventSourceStateCombinedSessionState, kCGMouseButtonLeft);
}

}  // namespace quenra
