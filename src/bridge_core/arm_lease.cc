#include "bridge_core/arm_lease.h"

#include <cerrno>

namespace quenra {

std::optional<ArmLease> ArmLease::acquire(const std::string& path) {
    Descriptor lock = Files::openLockFile(path, true);
    if (!lock.isOpen()) {
        throw FileFailure("open-lock", errno, path);
    }
    // Any refusal counts as busy: the caller answers BUSY and the extension may retry.
    if (!Files::tryLockExclusive(lock)) {
        return std::nullopt;
    }
    return ArmLease(std::move(lock));
}

}  // namespace quenra
