// How a program reaches the user's system drag pasteboard: the macOS drag pasteboard on the
// product, the file-backed drag board on Linux. Programs call this once at start-up, on the
// main thread, and hand the result to the session.
#pragma once

#include <memory>

#include "bridge_core/services.h"

namespace quenra {

// The drag pasteboard. On Linux this makes sure the board's private folder exists and throws
// FileFailure when it cannot (no home, a folder owned by someone else); on macOS it does
// not fail. The board must be used on the thread that opened it.
std::unique_ptr<DragBoard> openSystemDragBoard();

}  // namespace quenra
