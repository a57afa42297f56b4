#include "native_host/output.h"

#include <unistd.h>

#include "bridge_core/files.h"
#include "bridge_core/thread_checker.h"

namespace quenra::Output {

bool write(ByteView bytes) {
    // Bound to the first thread that writes, the main thread: frames from two threads could
    // interleave on the pipe.
    static const ThreadChecker writer{"Output"};
    writer.check();
    try {
        Files::writeAll(STDOUT_FILENO, bytes);
        return true;
    } catch (const FileFailure&) {
        return false;
    }
}

}  // namespace quenra::Output
