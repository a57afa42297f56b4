// The setup window of this platform, shown when the program starts without arguments.
#pragma once

#include <vector>

#include "setup_core/integration.h"

namespace quenra::SetupWindow {

// Runs the window over the given browsers' integrations (at least one) until the user quits;
// returns the process exit status (1 when no window can be shown, with a one-line reason on
// standard error).
int run(const std::vector<Integration>& integrations);

}  // namespace quenra::SetupWindow
