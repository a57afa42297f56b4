// Platform facts on the Linux stand-in: the kernel's release numbers stand where macOS reports
// its product version.
#include <sys/utsname.h>

#include <charconv>
#include <string>

#include "platform/build_architecture.h"
#include "platform/platform.h"

namespace quenra {
namespace {

// "6.1.0-13-amd64" gives 6.1.0; missing numbers count as 0, and leading zeros are dropped by
// reading each part as a number.
std::string releaseTriple(const char* release) {
    std::string_view rest(release);
    std::string triple;
    for (int part = 0; part < 3; ++part) {
        unsigned long number = 0;
        const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
        if (error == std::errc{}) {
            rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
            if (!rest.empty() && rest.front() == '.') {
                rest.remove_prefix(1);
            } else {
                rest = {};
            }
        } else {
            number = 0;
            rest = {};
        }
        if (part > 0) {
            triple.push_back('.');
        }
        triple.append(std::to_string(number));
    }
    return triple;
}

}  // namespace

Platform Platform::current() {
    struct utsname name {};
    const char* release = ::uname(&name) == 0 ? name.release : "0";
    return Platform{releaseTriple(release), buildArchitecture, "Linux"};
}

}  // namespace quenra
