// The per-user arm lock: an exclusive flock on the cache's "arm.lock", held for as long as a
// drag is armed, so that at most one host process of the user watches the drag pasteboard.
#pragma once

#include <optional>
#include <string>

#include "bridge_core/files.h"

namespace quenra {

class ArmLease {
  public:
    // Nothing when another descriptor holds the lock; never waits. Throws FileFailure
    // ("open-lock", errno) when the lock file cannot be opened.
    static std::optional<ArmLease> acquire(const std::string& path);

    // Closing the descriptor is what gives the lock up; safe to repeat.
    void release() { lock_.reset(); }
    int descriptor() const { return lock_.get(); }

  private:
    explicit ArmLease(Descriptor lock) : lock_(std::move(lock)) {}

    Descriptor lock_;
};

}  // namespace quenra
