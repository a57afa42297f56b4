// The host's drag pasteboard and mouse on Linux: the file-backed drag board.
#include "system_services/linux/drag_board.h"
#include "system_services/system_drag_board.h"
#include "system_services/system_mouse_buttons.h"

namespace quenra {

std::unique_ptr<DragBoard> openSystemDragBoard() {
    return std::make_unique<FileDragBoard>(DragBoardFolder::openSystem());
}

std::unique_ptr<MouseButtons> openSystemMouseButtons() {
    return std::make_unique<FileMouseButtons>(DragBoardFolder::openSystem());
}

}  // namespace quenra
