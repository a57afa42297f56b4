// How a program reaches the user's mouse buttons: CoreGraphics on the product, the button file
// of the Linux drag board on Linux. Programs call this once at start-up and hand the result to
// the session.
#pragma once

#include <memory>

#include "bridge_core/services.h"

namespace quenra {

// The mouse buttons; same failures as openSystemDragBoard (system_drag_board.h). Usable from
// any thread.
std::unique_ptr<MouseButtons> openSystemMouseButtons();

}  // namespace quenra
