// Random bytes on macOS: Security's generator.
#include "platform/secure_random.h"

#include <Security/Security.h>

namespace quenra {

bool SecureRandom::fill(std::span<std::uint8_t> bytes) {
    return bytes.empty() ||
           SecRandomCopyBytes(kSecRandomDefault, bytes.size(), bytes.data()) == errSecSuccess;
}

}  // namespace quenra
