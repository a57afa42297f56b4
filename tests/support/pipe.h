// Pipes between a test and the children it starts.
#pragma once

namespace quenra::testing {

// Like pipe(2) with both ends close-on-exec: 0, or -1 with errno set and nothing left open.
// The platform's own pipe: where the system has no pipe2 (macOS) the ends are marked after the
// pipe is made, and tests start their children from one thread, so none can start in between.
int closeOnExecPipe(int ends[2]);

}  // namespace quenra::testing
