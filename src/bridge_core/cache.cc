#include "bridge_core/cache.h"

#include <unistd.h>

#include <utility>

#include "bridge_core/files.h"
#include "bridge_core/system_locations.h"

namespace quenra {

OwnedEntry::OwnedEntry(std::string preparedId, std::string directory, std::string fileURL,
                       EntryRecord record, FileIdentity identity, int lockDescriptor)
    : preparedId_(std::move(preparedId)),
      directory_(std::move(directory)),
      fileURL_(std::move(fileURL)),
      record_(std::move(record)),
      identity_(identity),
      lockDescriptor_(lockDescriptor) {}

OwnedEntry::OwnedEntry(OwnedEntry&& other) noexcept
    : preparedId_(std::move(other.preparedId_)),
      directory_(std::move(other.directory_)),
      fileURL_(std::move(other.fileURL_)),
      record_(std::move(other.record_)),
      identity_(other.identity_),
      lockDescriptor_(std::exchange(other.lockDescriptor_, -1)) {}

OwnedEntry& OwnedEntry::operator=(OwnedEntry&& other) noexcept {
    if (this != &other) {
        closeLock();
        preparedId_ = std::move(other.preparedId_);
        directory_ = std::move(other.directory_);
        fileURL_ = std::move(other.fileURL_);
        record_ = std::move(other.record_);
        identity_ = other.identity_;
        lockDescriptor_ = std::exchange(other.lockDescriptor_, -1);
    }
    return *this;
}

OwnedEntry::~OwnedEntry() {
    closeLock();
}

void OwnedEntry::closeLock() {
    if (lockDescriptor_ >= 0) {
        ::close(lockDescriptor_);
        lockDescriptor_ = -1;
    }
}

CacheFailure::CacheFailure(Kind kind, std::string detail)
    : std::runtime_error(kind == Kind::full ? "full" : "io: " + detail),
      kind_(kind),
      detail_(std::move(detail)) {}

std::optional<std::string> Cache::defaultRoot() {
    const std::optional<std::string> caches = SystemLocations::userCachesDirectory();
    if (!caches) {
        return std::nullopt;
    }
    return *caches + "/" + std::string(directoryName);
}

Cache::Cache(std::string root, const Limits& limits, BridgeClock& clock, RandomSource& random)
    : root_(std::move(root)),
      entriesDirectory_(root_ + "/entries"),
      limits_(limits),
      clock_(&clock),
      random_(&random) {
    Files::ensurePrivateDirectory(root_);
    Files::ensurePrivateDirectory(entriesDirectory_);
}

std::string Cache::armLockURL() const {
    return root_ + "/arm.lock";
}

}  // namespace quenra
