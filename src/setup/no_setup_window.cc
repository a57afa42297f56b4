// For builds without a window toolkit: the command line still works.
#include <cstdio>

#include "setup/setup_window.h"

namespace quenra {

int SetupWindow::run(const std::vector<Integration>&) {
    std::fputs(
        "quenra-bridge-setup: this build has no window; use --status, --register, --unregister "
        "or --test.\n",
        stderr);
    return 1;
}

}  // namespace quenra
