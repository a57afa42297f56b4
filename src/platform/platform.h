// The operating system the program runs on, as reported to the extension and by the self-test.
#pragma once

#include <string>

namespace quenra {

struct Platform {
    std::string version;  // major.minor.patch, patch always present
    std::string arch;     // the build's processor as Apple names it: "arm64", "x86_64"
    std::string os;       // "macOS" on the product; the Linux stand-in reports "Linux"

    // Reads the running system's version on every call.
    static Platform current();

    bool operator==(const Platform&) const = default;
};

}  // namespace quenra
