// Stands in for Apple's CoreGraphics umbrella header, which Zig does not bundle, when
// scripts/check-macos compiles the Apple build on Linux. It declares only what our sources
// use, as <CoreGraphics/CGEventTypes.h> and <CoreGraphics/CGEventSource.h> declare it: the two
// enumerations keep their underlying types and the values of the members we name, and leave
// the other members out. A source that needs more fails the check until it is added here.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum CGEventSourceStateID : int32_t {
    kCGEventSourceStateCombinedSessionState = 0,
} CGEventSourceStateID;

typedef enum CGMouseButton : uint32_t {
    kCGMouseButtonLeft = 0,
} CGMouseButton;

bool CGEventSourceButtonState(CGEventSourceStateID stateID, CGMouseButton button);

#ifdef __cplusplus
}
#endif
