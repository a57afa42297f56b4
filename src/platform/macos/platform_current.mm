// Platform facts on macOS: the product version NSProcessInfo reports, and the processor the
// build was made for.
#import <Foundation/Foundation.h>

#include <string>

#include "platform/platform.h"

namespace quenra {
namespace {

#if defined(__arm64__) || defined(__aarch64__)
constexpr const char* buildArchitecture = "arm64";
#elif defined(__x86_64__)
constexpr const char* buildArchitecture = "x86_64";
#else
#error "unsupported processor"
#endif

}  // namespace

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
