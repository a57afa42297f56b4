// The product's drag board: the system drag pasteboard through AppKit. Objective-C++ only; the
// host reaches it through openSystemDragBoard (system_services/system_drag_board.h).
#pragma once

#include "bridge_core/services.h"
#include "bridge_core/thread_checker.h"

@class NSPasteboard;

namespace quenra {

// Bound to the thread that made it (the main thread), like the session that polls it; every
// operation checks it. Every operation runs inside its
// own autorelease pool: the host has no AppKit run loop, so nothing else would drain what the
// pasteboard hands out, and an armed host polls every 5 ms.
class PasteboardDragBoard final : public DragBoard {
  public:
    // Keeps a reference to pasteboard for its lifetime.
    explicit PasteboardDragBoard(NSPasteboard* pasteboard);
    ~PasteboardDragBoard() override;
    PasteboardDragBoard(const PasteboardDragBoard&) = delete;
    PasteboardDragBoard& operator=(const PasteboardDragBoard&) = delete;

    std::int64_t changeCount() override;
    std::vector<std::string> types() override;
    // Chrome promises its drag data lazily: the first reads of a new change count may give
    // nothing, which the takeover's re-reads allow for.
    std::optional<std::string> plainText() override;
    ClaimResult claim(const std::vector<std::string>& paths) override;

  private:
    NSPasteboard* pasteboard_;
    ThreadChecker thread_{"PasteboardDragBoard"};
};

}  // namespace quenra
