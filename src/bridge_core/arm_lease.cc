#include "bridge_core/arm_lease.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "bridge_core/files.h"

namespace quenra {

std::optional<ArmLease> ArmLease::acquire(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throw FileFailure{"open-lock", errno};
    }
    // Any refusal counts as busy: the caller answers BUSY and the extension may retry.
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        ::close(descriptor);
        return std::nullopt;
    }
    return ArmLease(descriptor);
}

ArmLease::ArmLease(ArmLease&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

ArmLease& ArmLease::operator=(ArmLease&& other) noexcept {
    if (this != &other) {
        release();
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

ArmLease::~ArmLease() {
    release();
}

void ArmLease::release() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

}  // namespace quenra
