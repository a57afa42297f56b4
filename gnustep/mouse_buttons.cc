// The left button of the GNUstep build. GNUstep has no CoreGraphics, and its own event state
// needs a display server, so the button is the Linux layer's: the file in the Linux drag board's
// folder that `quenra-drag-sim button down|up` and the tests press and release.
#include <memory>

#include "system_services/linux/drag_board.h"
#include "system_services/macos/system_mouse_buttons.h"

namespace quenra {

bool SystemMouseButtons::isLeftButtonDown() {
    try {
        // Opened on first use and kept; a failed open is tried again on the next read.
        static const std::shared_ptr<const DragBoardFolder> folder = DragBoardFolder::openSystem();
        return FileMouseButtons(folder).isLeftButtonDown();
    } catch (const FileFailure&) {
        // Without the folder nobody can have pressed the button.
        return false;
    }
}

}  // namespace quenra
