// The reader thread of a served connection: reads standard input in chunks of up to 64 KiB,
// decodes frames, reads each frame's request as its bytes arrive (RequestReader), and hands
// each request or other item to the main thread, waiting until it has been handled and
// answered, so at most one is in flight and replies leave in request order.
#pragma once

#include "bridge_core/limits.h"
#include "native_host/connection.h"
#include "native_host/event_loop.h"

namespace quenra::InputReader {

inline constexpr std::size_t readSize = 65536;

// Reads descriptor until it ends or fails (EINTR is retried), then hands over the end of
// input. Returns only when the connection's exits return, which the program's never do.
// Memory that runs out while a frame is read gets that frame an INTERNAL answer; anywhere
// else on this thread it hands over Connection::outOfMemory instead of the end of input (or,
// when even that cannot be handed over, logs "out-of-memory" and ends the process, status 1).
// Nothing escapes.
void run(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits);

// run on a new detached thread; nobody ever joins it, the process ends around it.
void start(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits);

}  // namespace quenra::InputReader
