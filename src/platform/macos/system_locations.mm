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

std::optional<std::string> SystemLocations::userMusicDirectory() {
    @autoreleasepool {
        NSArray<NSString*>* music =
            NSSearchPathForDirectoriesInDomains(NSMusicDirectory, NSUserDomainMask, YES);
        return pathOf([music firstObject]);
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
        // Links resolved, as the Linux layer reports it.
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
        // By index, as every list of this layer is walked: the GNUstep build runs this code too,
        // and some of GNUstep's lists are proxies that fast enumeration cannot walk.
        NSArray<NSString*>* preferred = [NSLocale preferredLanguages];
        const NSUInteger count = [preferred count];
        for (NSUInteger index = 0; index < count; ++index) {
            if (const char* utf8 = [[preferred objectAtIndex:index] UTF8String]) {
                languages.emplace_back(utf8);
            }
        }
        return languages;
    }
}

}  // namespace quenra
