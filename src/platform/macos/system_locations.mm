// Locations on macOS, as Foundation reports them: the user's caches and home directories, the
// running bundle and the preferred languages. Foundation reads the environment itself.
#include "platform/system_locations.h"

#import <Foundation/Foundation.h>
#include <stdlib.h>

namespace quenra {
namespace {

std::optional<std::string> pathOf(NSString* path) {
    if (path == nil || [path length] == 0) {
        return std::nullopt;
    }
    const char* representation = [path fileSystemRepresentation];
    if (representation == nullptr) {
        return std::nullopt;
    }
    return std::string(representation);
}

}  // namespace

std::optional<std::string> SystemLocations::userCachesDirectory() {
    @autoreleasepool {
        NSArray<NSString*>* caches =
            NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, YES);
        return pathOf([caches firstObject]);
    }
}

std::optional<std::string> SystemLocations::homeDirectory() {
    @autoreleasepool {
        return pathOf(NSHomeDirectory());
    }
}

std::optional<std::string> SystemLocations::mainBundlePath() {
    @autoreleasepool {
        return pathOf([[NSBundle mainBundle] bundlePath]);
    }
}

std::optional<std::string> SystemLocations::executablePath() {
    @autoreleasepool {
        const auto path = pathOf([[NSBundle mainBundle] executablePath]);
        if (!path) {
            return std::nullopt;
        }
        // Links resolved, as /proc/self/exe gives it on Linux.
        char* resolved = ::realpath(path->c_str(), nullptr);
        if (resolved == nullptr) {
            return std::nullopt;
        }
        std::string result(resolved);
        ::free(resolved);
        return result;
    }
}

std::vector<std::string> SystemLocations::preferredLanguages() {
    @autoreleasepool {
        std::vector<std::string> languages;
        for (NSString* language in [NSLocale preferredLanguages]) {
            if (const char* utf8 = [language UTF8String]) {
                languages.emplace_back(utf8);
            }
        }
        return languages;
    }
}

}  // namespace quenra
