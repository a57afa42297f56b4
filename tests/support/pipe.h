// Pipes between a test and the children it starts, from the calls every system has.
#pragma once

namespace quenra::testing {

// Like pipe(2) with both ends close-on-exec: 0, or -1 with errno set and nothing left open.
// The ends are marked after the pipe is made; tests start their children from one thread, so
// no child can start in between and inherit them.
int closeOnExecPipe(int ends[2]);

}  // namespace quenra::testing
