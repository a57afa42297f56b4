// The services one host session works through. The runtime fills it with the real cache, drag
// pasteboard, mouse, clocks and random source; tests fill it with substitutes.
#pragma once

#include <string>

#include "bridge_core/cache.h"
#include "bridge_core/limits.h"
#include "bridge_core/services.h"
#include "platform/platform.h"

namespace quenra {

// Every reference must outlive the session built over it.
struct SessionEnvironment {
    Cache& cache;
    DragBoard& board;
    MouseButtons& mouse;
    BridgeClock& clock;
    RandomSource& random;
    Limits limits;
    Platform platform;
    // The audio library folder (<music folder>/Quenra Bridge); empty when the platform knows no
    // music folder, and then no audio clip can be armed.
    std::string audioLibrary{};
};

}  // namespace quenra
