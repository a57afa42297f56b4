// The host's drag pasteboard and mouse on Linux: the file-backed drag board.
#include <memory>
#include <mutex>

#include "system_services/linux/drag_board.h"
#include "system_services/system_drag_board.h"
#include "system_services/system_mouse_buttons.h"

namespace quenra {
namespace {

// The board and the mouse live in one folder, created, checked and held open once for as long
// as either uses it, not once each.
std::shared_ptr<const DragBoardFolder> systemFolder() {
    static std::mutex mutex;
    static std::weak_ptr<const DragBoardFolder> opened;
    const std::lock_guard lock(mutex);
    std::shared_ptr<const DragBoardFolder> folder = opened.lock();
    if (folder == nullptr || folder->path() != DragBoardFolder::systemPath()) {
        folder = DragBoardFolder::openSystem();
        opened = folder;
    }
    return folder;
}

}  // namespace

std::unique_ptr<DragBoard> openSystemDragBoard() {
    return std::make_unique<FileDragBoard>(systemFolder());
}

std::unique_ptr<MouseButtons> openSystemMouseButtons() {
    return std::make_unique<FileMouseButtons>(systemFolder());
}

}  // namespace quenra
