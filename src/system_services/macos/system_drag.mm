// The host's drag pasteboard and mouse on macOS: the system pasteboard a drag in progress uses
// (never the general one), and CoreGraphics' button state.
#import <AppKit/AppKit.h>

#include "system_services/macos/pasteboard_drag_board.h"
#include "system_services/macos/system_mouse_buttons.h"
#include "system_services/system_drag_board.h"
#include "system_services/system_mouse_buttons.h"

namespace quenra {

std::unique_ptr<DragBoard> openSystemDragBoard() {
    @autoreleasepool {
        return std::make_unique<PasteboardDragBoard>(
            [NSPasteboard pasteboardWithName:NSPasteboardNameDrag]);
    }
}

std::unique_ptr<MouseButtons> openSystemMouseButtons() {
    return std::make_unique<SystemMouseButtons>();
}

}  // namespace quenra
