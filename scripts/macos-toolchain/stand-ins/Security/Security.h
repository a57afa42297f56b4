// Stands in for Apple's Security umbrella header, which Zig does not bundle, when
// scripts/check-macos compiles the Apple build on Linux. It declares only what our sources
// use, as <Security/SecBase.h> and <Security/SecRandom.h> declare it (OSStatus comes from
// <MacTypes.h>, which Zig does bundle). A source that needs more fails the check until it is
// added here.
#pragma once

#include <MacTypes.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum : OSStatus {
    errSecSuccess = 0,
};

typedef const struct __SecRandom* SecRandomRef;
extern const SecRandomRef kSecRandomDefault;

int SecRandomCopyBytes(SecRandomRef rnd, size_t count, void* bytes)
    __attribute__((warn_unused_result));

#ifdef __cplusplus
}
#endif
