#include "support/pipe.h"

#include "setup_core/setup_platform.h"

namespace quenra::testing {

int closeOnExecPipe(int ends[2]) {
    return SetupPlatform::openPipe(ends) ? 0 : -1;
}

}  // namespace quenra::testing
