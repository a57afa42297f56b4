// The host's drag pasteboard and mouse on macOS: the system pasteboard a drag in progress uses
// (never the general one), and CoreGraphics' button state.
#include "platform/system_drag.h"

#import <AppKit/AppKit.h>

#include "platform/macos/pasteboard_drag_board.h"
#include "platform/macos/system_mouse_buttons.h"

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
