// Platform facts on macOS: the product version NSProcessInfo reports, and the processor the
// build was made for.
#import <Foundation/Foundation.h>

#include <string>

#include "platform/build_architecture.h"
#include "platform/platform.h"

namespace quenra {
Platform Platform::current() {
    @autoreleasepool {
        const NSOperatingSystemVersion version =
            [[NSProcessInfo processInfo] operatingSystemVersion];
        std::string triple = std::to_string(static_cast<long long>(version.majorVersion)) + "." +
                             std::to_string(static_cast<long long>(version.minorVersion)) + "." +
                             std::to_string(static_cast<long long>(version.patchVersion));
        return Platform{std::move(triple), buildArchitecture, "macOS"};
    }
}

}  // namespace quenra
