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

// Reads descriptor until it ends or fails (EINTR is retried), then hands the connection its
// ending (inputEnded, or inputEndedMidFrame) and returns without waiting for it. Memory that
// runs out while a frame is read gets that frame an INTERNAL answer; anywhere else on this
// thread the ending handed over is outOfMemory instead. Nothing escapes.
void run(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits) noexcept;

// run on a new detached thread; nobody ever joins it, the process ends around it. Throws
// std::system_error when no thread can be started, and std::bad_alloc.
void start(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits);

}  // namespace quenra::InputReader
