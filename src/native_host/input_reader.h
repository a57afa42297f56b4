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
void run(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits);

// run on a new detached thread; nobody ever joins it, the process ends around it.
void start(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits);

}  // namespace quenra::InputReader
