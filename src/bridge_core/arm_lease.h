// The per-user arm lock: an exclusive flock on the cache's "arm.lock", held for as long as a
// drag is armed, so that at most one host process of the user watches the drag pasteboard.
#pragma once

#include <optional>
#include <string>

namespace quenra {

class ArmLease {
  public:
    // Nothing when another descriptor holds the lock; never waits. Throws FileFailure
    // ("open-lock", errno) when the lock file cannot be opened.
    static std::optional<ArmLease> acquire(const std::string& path);

    ArmLease(ArmLease&& other) noexcept;
    ArmLease& operator=(ArmLease&& other) noexcept;
    ArmLease(const ArmLease&) = delete;
    ArmLease& operator=(const ArmLease&) = delete;
    ~ArmLease();

    // Closing the descriptor is what gives the lock up; safe to repeat.
    void release();
    int descriptor() const { return descriptor_; }

  private:
    explicit ArmLease(int descriptor) : descriptor_(descriptor) {}

    int descriptor_ = -1;
};

}  // namespace quenra
