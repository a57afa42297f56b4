// The host's standard output: protocol frames only, each handed to the system at once and in
// full. With SIGPIPE ignored, a reader that went away shows up as a false result.
#pragma once

#include "bridge_core/bytes.h"

namespace quenra::Output {

// Writes every byte to descriptor 1 (Files::writeAll), always from the thread that wrote first
// (a call from any other ends the process). False when the output is broken: EPIPE,
// any other write error, or a write that makes no progress; true at once for an empty buffer.
bool write(ByteView bytes);

}  // namespace quenra::Output
