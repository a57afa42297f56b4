// Serving one browser connection as a process: the cache, the session over the system
// services, the reader thread and the main loop with its two timers. Everything lives until
// the process exits, and every exit goes through std::_Exit after the session's shutdown, so
// no static destructor or joinable thread can turn a clean end into an abort.
#pragma once

namespace quenra::HostRuntime {

// Opens the cache ("cache-unavailable", status 1, when it cannot), opens the drag board
// ("drag-board-unavailable", status 1, when it cannot), builds the session and the sweep timer,
// and starts the reader ("reader-unavailable", status 1, when no thread can be had). The cache
// is swept right after the first answer (Connection), not here: a full cache would hold up the
// HELLO. Call once, on the main thread.
void start();

// Runs the main loop on the calling (main) thread for the life of the process. It does not
// return in practice: the runtime ends the process from inside it.
void runMainLoop();

// start(), then the main loop; 0 should the loop ever return. Memory that runs out while the
// host starts ends it with "out-of-memory" and status 1.
int serve();

}  // namespace quenra::HostRuntime
