#include "bridge_core/cache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

#include "bridge_core/files.h"
#include "bridge_core/system_locations.h"

namespace quenra {
namespace {

constexpr std::string_view stagingPrefix = ".tmp-";

// A descriptor closed on every path out of a scope unless handed on with release().
class HeldDescriptor {
  public:
    explicit HeldDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~HeldDescriptor() { reset(); }
    HeldDescriptor(const HeldDescriptor&) = delete;
    HeldDescriptor& operator=(const HeldDescriptor&) = delete;

    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }
    void reset(int descriptor = -1) {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
        descriptor_ = descriptor;
    }

  private:
    int descriptor_;
};

bool isLowerHex(std::string_view text, std::size_t length) {
    if (text.size() != length) {
        return false;
    }
    for (const char character : text) {
        if (!((character >= '0' && character <= '9') || (character >= 'a' && character <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool isEntryName(std::string_view name) {
    return isLowerHex(name, 32);
}

bool isStagingName(std::string_view name) {
    return name.starts_with(stagingPrefix) && isLowerHex(name.substr(stagingPrefix.size()), 16);
}

// Only a real directory of ours is ever counted or removed: links, files and other users'
// directories under an entry-like name are left alone.
std::optional<struct stat> ownDirectory(int directory, const std::string& name, uid_t user) {
    struct stat status {};
    if (::fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISDIR(status.st_mode) || status.st_uid != user) {
        return std::nullopt;
    }
    return status;
}

// "entries" opened as our own real directory, or -1. Names inside are then looked up from
// it: cheaper than whole paths, and a folder swapped for a link later is never entered.
// Listing it leaves its access time alone (a directory that is not ours fails the open).
int openEntriesDirectory(const std::string& path, uid_t user) {
    const int opened = ::open(
        path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | Files::leaveAccessTimeFlag);
    if (opened < 0) {
        return -1;
    }
    struct stat status {};
    if (::fstat(opened, &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != user) {
        ::close(opened);
        return -1;
    }
    return opened;
}

bool tryLock(int descriptor) {
    return ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
}

// The clip file must land inside the staging directory under a name that the entry's own
// files do not use.
bool isUsableFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos &&
           name != "entry.json" && name != "owner.lock";
}

std::int64_t saturatingAdd(std::int64_t total, std::int64_t amount) {
    if (amount <= 0) {
        return total;
    }
    if (total > std::numeric_limits<std::int64_t>::max() - amount) {
        return std::numeric_limits<std::int64_t>::max();
    }
    return total + amount;
}

}  // namespace

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

int Cache::waitForCacheLock() {
    HeldDescriptor lock(Files::openLockFile(root_ + "/cache.lock", true));
    if (lock.get() < 0) {
        throw CacheFailure::io("cache-lock");
    }
    const double deadline = clock_->monotonicNow() + limits_.cacheLockWait;
    if (tryLock(lock.get())) {
        return lock.release();
    }
    for (;;) {
        if (!(clock_->monotonicNow() < deadline)) {
            throw CacheFailure::io("cache-busy");
        }
        ::usleep(5000);
        if (tryLock(lock.get())) {
            return lock.release();
        }
    }
}

CacheUsage Cache::scanUsage() const {
    CacheUsage usage;
    const uid_t user = ::getuid();
    const HeldDescriptor entries(openEntriesDirectory(entriesDirectory_, user));
    if (entries.get() < 0) {
        return usage;
    }
    for (const std::string& name : Files::namesAt(entries.get())) {
        if (!isEntryName(name) || !ownDirectory(entries.get(), name, user)) {
            continue;
        }
        usage.entries = saturatingAdd(usage.entries, 1);
        const auto bytes = Files::readSmallAt(entries.get(), name + "/entry.json", maxRecordBytes,
                                              Files::AccessTime::leave);
        if (!bytes) {
            continue;
        }
        if (const auto record = EntryRecord::decode(*bytes)) {
            // A negative or absurd length from a tampered record must never make room.
            usage.bytes = saturatingAdd(usage.bytes, record->byteLength);
        }
    }
    return usage;
}

CacheUsage Cache::usage() const {
    return scanUsage();
}

OwnedEntry Cache::create(std::span<const std::uint8_t> midi, const std::string& fileName,
                         const std::string& sha256) {
    // Held until create returns or throws: the usage count, an optional sweep and the
    // publication of the entry happen as one step for every other creator and sweeper.
    const HeldDescriptor cacheLock(waitForCacheLock());
    return createWhileLocked(midi, fileName, sha256);
}

OwnedEntry Cache::createWhileLocked(std::span<const std::uint8_t> midi, const std::string& fileName,
                                    const std::string& sha256) {
    if (!isUsableFileName(fileName)) {
        throw CacheFailure::io("file-name");
    }
    const auto size = static_cast<std::int64_t>(midi.size());
    const auto fits = [&](const CacheUsage& usage) {
        return usage.entries < limits_.cacheMaxEntries && size <= limits_.cacheMaxBytes &&
               usage.bytes <= limits_.cacheMaxBytes - size;
    };
    if (!fits(scanUsage())) {
        sweepWhileLocked();
        if (!fits(scanUsage())) {
            throw CacheFailure::full();
        }
    }

    const std::string preparedId = random_->hex(16);
    const std::string staging =
        entriesDirectory_ + "/" + std::string(stagingPrefix) + random_->hex(8);
    if (::mkdir(staging.c_str(), 0700) != 0) {
        throw CacheFailure::io("mkdir");
    }
    // From here a failure removes the staging directory; a crash leaves it to a later sweep,
    // and nothing ever appears under an entry id until the final rename.
    try {
        // Locked before the entry becomes visible, so no sweep ever sees it unowned. Made
        // first, the lock file's creation is made durable by the clip's flush, which commits
        // the file system's pending metadata anyway; made last, it would leave the staging
        // directory's own flush a change of its own to commit.
        HeldDescriptor ownerLock(Files::openLockFile(staging + "/owner.lock", true));
        if (ownerLock.get() < 0 || !tryLock(ownerLock.get())) {
            throw CacheFailure::io("owner-lock");
        }
        const std::string stagedClip = staging + "/" + fileName;
        Files::writeNew(stagedClip, midi);
        struct stat status {};
        if (::lstat(stagedClip.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            throw CacheFailure::io("stat");
        }
        const FileIdentity identity{static_cast<std::int64_t>(status.st_dev),
                                    static_cast<std::uint64_t>(status.st_ino),
                                    static_cast<std::int64_t>(status.st_size)};

        const double now = clock_->wallNow();
        EntryRecord record;
        record.preparedId = preparedId;
        record.state = EntryState::prepared;
        record.fileName = fileName;
        record.byteLength = size;
        record.sha256 = sha256;
        record.createdAt = now;
        record.touchedAt = now;
        const std::optional<std::string> encoded = record.encode();
        if (!encoded) {
            throw CacheFailure::io("encode");
        }
        Files::writeNew(staging + "/entry.json", Files::bytesOf(*encoded));

        Files::flushDirectory(staging);
        const std::string directory = entriesDirectory_ + "/" + preparedId;
        Files::renameExclusive(staging, directory);
        Files::flushDirectory(entriesDirectory_);
        return OwnedEntry(preparedId, directory, directory + "/" + fileName, std::move(record),
                          identity, ownerLock.release());
    } catch (const CacheFailure&) {
        Files::removeTree(staging);
        throw;
    } catch (const std::exception& failure) {
        Files::removeTree(staging);
        throw CacheFailure::io(failure.what());
    }
}

void Cache::update(OwnedEntry& entry, EntryState state, std::optional<double> retainUntil) {
    EntryRecord next = entry.record_;
    next.state = state;
    next.touchedAt = clock_->wallNow();
    next.retainUntil = retainUntil;
    const std::optional<std::string> encoded = next.encode();
    if (!encoded) {
        throw CacheFailure::io("encode");
    }
    // Only the owner rewrites a record; readers in other processes see the old or the new
    // record whole because the temporary is renamed over it.
    Files::replace(entry.directory_ + "/entry.json", Files::bytesOf(*encoded),
                   ".entry.json." + random_->hex(8));
    entry.record_ = std::move(next);
}

bool Cache::isIntact(const OwnedEntry& entry) const {
    struct stat status {};
    return ::lstat(entry.fileURL_.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_uid == ::getuid() &&
           static_cast<std::int64_t>(status.st_dev) == entry.identity_.device &&
           static_cast<std::uint64_t>(status.st_ino) == entry.identity_.inode &&
           static_cast<std::int64_t>(status.st_size) == entry.identity_.size;
}

void Cache::deleteEntry(OwnedEntry& entry) {
    // Removed while still owned, so no sweep judges the half-removed entry meanwhile.
    if (!entry.directory_.empty()) {
        Files::removeTree(entry.directory_);
    }
    relinquish(entry);
}

void Cache::relinquish(OwnedEntry& entry) {
    entry.closeLock();
}

SweepReport Cache::sweep() {
    const HeldDescriptor lock(Files::openLockFile(root_ + "/cache.lock", true));
    if (lock.get() < 0 || !tryLock(lock.get())) {
        return SweepReport{.skipped = true};
    }
    return sweepWhileLocked();
}

SweepReport Cache::sweepWhileLocked() {
    const double now = clock_->wallNow();
    SweepReport report;
    const uid_t user = ::getuid();
    // A folder swapped for a link after init is not ours to judge: nothing is followed there.
    const HeldDescriptor entries(openEntriesDirectory(entriesDirectory_, user));
    if (entries.get() < 0) {
        return report;
    }
    for (const std::string& name : Files::namesAt(entries.get())) {
        const bool staging = isStagingName(name);
        if (!staging && !isEntryName(name)) {
            continue;
        }
        const std::string directory = entriesDirectory_ + "/" + name;
        const std::optional<struct stat> status = ownDirectory(entries.get(), name, user);
        if (!status) {
            continue;
        }
        // The folder's times in whole seconds, through the POSIX names that every system has:
        // the expiry rules need no finer steps.
        if (staging) {
            const double expiry = static_cast<double>(status->st_mtime) + limits_.temporaryMaxAge;
            if (now > expiry) {
                Files::removeTree(directory);
                ++report.temporariesDeleted;
            }
            continue;
        }
        // Our own lock, when we get it, keeps the entry ours while we judge and remove it.
        const HeldDescriptor ownerLock(Files::openLockFile(directory + "/owner.lock", false));
        if (ownerLock.get() >= 0 && !tryLock(ownerLock.get())) {
            ++report.owned;
            continue;
        }
        double expiry = static_cast<double>(status->st_ctime) + limits_.unreadableRetention;
        const auto bytes = Files::readSmallAt(entries.get(), name + "/entry.json", maxRecordBytes,
                                              Files::AccessTime::leave);
        if (const auto record = bytes ? EntryRecord::decode(*bytes) : std::nullopt) {
            if (record->state == EntryState::prepared) {
                expiry = record->touchedAt + limits_.preparedIdle;
            } else if (record->retainUntil) {
                expiry = *record->retainUntil;
            } else {
                expiry = record->touchedAt + limits_.retention;
            }
        }
        if (now > expiry) {
            Files::removeTree(directory);
            ++report.deleted;
        } else {
            ++report.kept;
        }
    }
    return report;
}

}  // namespace quenra
