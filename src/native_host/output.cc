#include "native_host/output.h"

#include <unistd.h>

#include "bridge_core/files.h"

namespace quenra::Output {

bool write(ByteView bytes) {
    try {
        Files::writeAll(STDOUT_FILENO, bytes);
        return true;
    } catch (const FileFailure&) {
        return false;
    }
}

}  // namespace quenra::Output
