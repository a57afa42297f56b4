#include "bridge_core/cache.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "bridge_core/entry_lifecycle.h"
#include "bridge_core/files.h"
#include "bridge_core/hex.h"
#include "bridge_core/limits.h"
#include "platform/system_locations.h"

namespace quenra {
namespace {

constexpr std::string_view stagingPrefix = ".tmp-";
// The file an upload's bytes gather in, inside its staging folder.
constexpr std::string_view uploadFileName = ".upload";

bool isEntryName(std::string_view name) {
    return Hex::isLower(name, 32);
}

bool isStagingName(std::string_view name) {
    return name.starts_with(stagingPrefix) && Hex::isLower(name.substr(stagingPrefix.size()), 16);
}

// Visits every real directory of ours under the entries folder whose name is an entry id or a
// staging name, with its status: links, files and other users' directories under such a name
// are never counted, judged or removed. The names are listed through the folder that was
// checked, leaving its access time alone: cheaper than whole paths, and a folder swapped for a
// link later is never entered.
// False when the folder could not be opened or listed whole, which says nothing about what it
// holds.
template <typename Visit>
bool visitOwnDirectories(const std::string& entriesDirectory, Visit visit) {
    const Descriptor entries = Files::openOwnDirectory(entriesDirectory, Files::AccessTime::leave);
    if (!entries.isOpen()) {
        return false;
    }
    const std::optional<std::vector<std::string>> names = Files::namesAt(entries.get());
    if (!names) {
        return false;
    }
    for (const std::string& name : *names) {
        const bool staging = isStagingName(name);
        if (!staging && !isEntryName(name)) {
            continue;
        }
        const std::optional<Files::Status> status = Files::statusAt(entries.get(), name);
        if (status && status->kind == Files::Status::Kind::directory && status->ownedByUser) {
            visit(entries.get(), name, staging, *status);
        }
    }
    return true;
}

// Failures that come and go with the process's own resources: an owner lock that failed to open
// for one of these may well be held by another process. Every other failure (a link, a folder or
// a file that cannot be opened for writing under the name) is a state that no host can hold a
// lock through.
bool isTransient(int code) {
    return code == EMFILE || code == ENFILE || code == ENOMEM || code == EINTR || code == EAGAIN ||
           code == EWOULDBLOCK || code == ENOBUFS;
}

// The record of the entry directory name inside the open entries folder: nothing when it is
// missing or unreadable, and not known at all when it could not be opened for a reason that
// says nothing about the entry (no descriptor or memory left, say).
struct RecordRead {
    std::optional<EntryRecord> record;
    bool known = true;
};

RecordRead readRecordAt(int entries, const std::string& name) {
    try {
        return {EntryRecord::decode(Files::readBoundedAt(
            entries, name + "/entry.json", Cache::maxRecordBytes, Files::AccessTime::leave))};
    } catch (const FileFailure& failure) {
        const int code = failure.errorNumber();
        const bool aboutTheEntry = failure.operation() != "open" || code == ENOENT ||
                                   code == ELOOP || code == EACCES || code == EPERM;
        return {std::nullopt, aboutTheEntry};
    }
}

// The clip file must land inside the staging directory under a name that the entry's own
// files do not use.
bool isUsableFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos &&
           name != "entry.json" && name != "owner.lock";
}

// The owner lock of a staging directory, made and taken. Locked before the entry becomes
// visible, so no sweep ever sees it unowned. Made first, the lock file's creation is made durable
// by the clip's flush, which commits the file system's pending metadata anyway; made last, it
// would leave the staging directory's own flush a change of its own to commit.
Descriptor takeOwnerLock(const std::string& staging) {
    Descriptor ownerLock = Files::openLockFile(staging + "/owner.lock", true);
    if (!ownerLock.isOpen() || !Files::tryLockExclusive(ownerLock)) {
        throw CacheFailure::io("owner-lock");
    }
    return ownerLock;
}

// Writes the clip file and returns what it is, so that a later check can tell it was not
// replaced.
FileIdentity writeClip(const std::string& path, std::span<const std::uint8_t> midi) {
    Files::writeNew(path, midi);
    const std::optional<Files::Status> status = Files::statusOf(path);
    if (!status || status->kind != Files::Status::Kind::regularFile) {
        throw CacheFailure::io("stat");
    }
    return FileIdentity{status->device, status->inode, status->size};
}

EntryRecord preparedRecord(const std::string& preparedId, const std::string& fileName,
                           std::int64_t size, const std::string& sha256, double now) {
    EntryRecord record;
    record.preparedId = preparedId;
    record.state = EntryState::prepared;
    record.fileName = fileName;
    record.byteLength = size;
    record.sha256 = sha256;
    record.createdAt = now;
    record.touchedAt = now;
    return record;
}

void writeRecord(const std::string& path, const EntryRecord& record) {
    const std::optional<std::string> encoded = record.encode();
    if (!encoded) {
        throw CacheFailure::io("encode");
    }
    Files::writeNew(path, bytesOf(*encoded));
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

// Runs work(index) for every index below count, a few at a time: on up to flushesInFlight
// threads, this one among them, each taking every flushesInFlight-th index. Flushes wait on the
// disk, and a file system commits the flushes that wait together in one go, where one after
// another each waits for a commit of its own; more threads than a few cost more to start than
// the disk gives back (16 records: about 12 ms with a thread each, 7 to 9 ms with two to four,
// 12 ms with none). A thread that cannot be had leaves its share to this one. Once all are done,
// the failure of the lowest index, if any, is thrown.
constexpr std::size_t flushesInFlight = 4;

template <typename Work>
void atOnce(std::size_t count, Work work) {
    std::vector<std::exception_ptr> failures(count);
    const std::size_t lanes = std::min(count, flushesInFlight);
    const auto runLane = [&](std::size_t lane) {
        for (std::size_t index = lane; index < count; index += lanes) {
            try {
                work(index);
            } catch (...) {
                failures[index] = std::current_exception();  // rethrown below, once all are done
            }
        }
    };
    std::vector<std::thread> threads;
    threads.reserve(lanes);
    for (std::size_t lane = 1; lane < lanes; ++lane) {
        try {
            threads.emplace_back(runLane, lane);
        } catch (const std::system_error&) {
            runLane(lane);
        }
    }
    if (lanes > 0) {
        runLane(0);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

}  // namespace

OwnedEntry::OwnedEntry(std::string preparedId, std::string directory, std::string fileURL,
                       EntryRecord record, FileIdentity identity, Descriptor lock)
    : preparedId_(std::move(preparedId)),
      directory_(std::move(directory)),
      fileURL_(std::move(fileURL)),
      record_(std::move(record)),
      identity_(identity),
      lock_(std::move(lock)) {}

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

Descriptor Cache::waitForCacheLock() {
    Descriptor lock = Files::openLockFile(root_ + "/cache.lock", true);
    if (!lock.isOpen()) {
        throw CacheFailure::io("cache-lock");
    }
    const double deadline = clock_->monotonicNow() + limits_.cacheLockWait;
    if (Files::tryLockExclusive(lock)) {
        return lock;
    }
    for (;;) {
        if (!(clock_->monotonicNow() < deadline)) {
            throw CacheFailure::io("cache-busy");
        }
        ::usleep(5000);
        if (Files::tryLockExclusive(lock)) {
            return lock;
        }
    }
}

std::optional<CacheUsage> Cache::scanUsage() const {
    CacheUsage usage;
    const bool listed = visitOwnDirectories(
        entriesDirectory_,
        [&](int entries, const std::string& name, bool staging, const Files::Status&) {
            if (staging) {
                return;
            }
            const auto record = readRecordAt(entries, name).record;
            // A negative or absurd length from a tampered record must never make room.
            if (record && record->format) {
                usage.audioBytes = saturatingAdd(usage.audioBytes, record->byteLength);
                return;
            }
            usage.entries = saturatingAdd(usage.entries, 1);
            if (record) {
                usage.bytes = saturatingAdd(usage.bytes, record->byteLength);
            }
        });
    if (!listed) {
        return std::nullopt;
    }
    return usage;
}

CacheUsage Cache::usage() const {
    return scanUsage().value_or(CacheUsage{});
}

OwnedEntry Cache::create(std::span<const std::uint8_t> midi, const std::string& fileName,
                         const std::string& sha256) {
    // Held until create returns or throws: the usage count, an optional sweep and the
    // publication of the entry happen as one step for every other creator and sweeper.
    const Descriptor cacheLock = waitForCacheLock();
    return createWhileLocked(midi, fileName, sha256);
}

OwnedEntry Cache::createWhileLocked(std::span<const std::uint8_t> midi, const std::string& fileName,
                                    const std::string& sha256) {
    if (!isUsableFileName(fileName)) {
        throw CacheFailure::io("file-name");
    }
    const auto size = static_cast<std::int64_t>(midi.size());
    // A folder that cannot be listed is not an empty one: the create fails rather than pass
    // limits it could not count.
    const auto fits = [&] {
        const std::optional<CacheUsage> usage = scanUsage();
        if (!usage) {
            throw CacheFailure::io("entries-unreadable");
        }
        return usage->entries < limits_.cacheMaxEntries && size <= limits_.cacheMaxBytes &&
               usage->bytes <= limits_.cacheMaxBytes - size;
    };
    if (!fits()) {
        sweepWhileLocked();
        if (!fits()) {
            throw CacheFailure::full();
        }
    }

    const std::string preparedId = random_->hex(16);
    const std::string staging = makeStagingDirectory();
    // From here a failure removes the staging directory; a crash leaves it to a later sweep,
    // and nothing ever appears under an entry id until the final rename.
    try {
        Descriptor ownerLock = takeOwnerLock(staging);
        const FileIdentity identity = writeClip(staging + "/" + fileName, midi);
        EntryRecord record = preparedRecord(preparedId, fileName, size, sha256, clock_->wallNow());
        writeRecord(staging + "/entry.json", record);

        Files::flushDirectory(staging);
        const std::string directory = entriesDirectory_ + "/" + preparedId;
        Files::renameExclusive(staging, directory);
        Files::flushDirectory(entriesDirectory_);
        return OwnedEntry(preparedId, directory, directory + "/" + fileName, std::move(record),
                          identity, std::move(ownerLock));
    } catch (const CacheFailure&) {
        Files::removeTree(staging);
        throw;
    } catch (const std::exception& failure) {
        Files::removeTree(staging);
        throw CacheFailure::io(failure.what());
    }
}

Upload::Upload(Upload&& other) noexcept
    : cache_(std::exchange(other.cache_, nullptr)),
      staging_(std::move(other.staging_)),
      folder_(std::move(other.folder_)),
      file_(std::move(other.file_)),
      byteLength_(other.byteLength_),
      received_(other.received_) {}

Upload& Upload::operator=(Upload&& other) noexcept {
    if (this != &other) {
        discard();
        cache_ = std::exchange(other.cache_, nullptr);
        staging_ = std::move(other.staging_);
        folder_ = std::move(other.folder_);
        file_ = std::move(other.file_);
        byteLength_ = other.byteLength_;
        received_ = other.received_;
    }
    return *this;
}

Upload::~Upload() {
    discard();
}

void Upload::discard() noexcept {
    if (cache_ == nullptr) {
        return;
    }
    cache_->openUploadBytes_ -= byteLength_;
    cache_ = nullptr;
    file_.reset();
    folder_.reset();
    if (!staging_.empty()) {
        Files::removeTree(staging_);
    }
}

Upload Cache::beginUpload(std::int64_t byteLength) {
    {
        const Descriptor cacheLock = waitForCacheLock();
        const std::optional<CacheUsage> usage = scanUsage();
        if (!usage) {
            throw CacheFailure::io("entries-unreadable");
        }
        const std::int64_t committed = saturatingAdd(usage->audioBytes, openUploadBytes_);
        const std::optional<std::int64_t> free = Files::freeBytes(entriesDirectory_);
        if (!free) {
            throw CacheFailure::io("statvfs");
        }
        if (byteLength > limits_.audioCacheMaxBytes ||
            committed > limits_.audioCacheMaxBytes - byteLength ||
            *free < saturatingAdd(limits_.audioFreeBytes, byteLength)) {
            throw CacheFailure::full();
        }
    }
    Upload upload;
    const std::string staging = makeStagingDirectory();
    upload.cache_ = this;
    upload.staging_ = staging;
    upload.byteLength_ = byteLength;
    openUploadBytes_ += byteLength;
    upload.folder_ = Files::openOwnDirectory(staging);
    if (!upload.folder_.isOpen()) {
        throw CacheFailure::io("open");
    }
    try {
        upload.file_ = Files::createForWriting(staging + "/" + std::string(uploadFileName));
    } catch (const FileFailure& failure) {
        throw CacheFailure::io(failure.description());
    }
    return upload;
}

void Cache::append(Upload& upload, std::span<const std::uint8_t> bytes) {
    Files::writeAll(upload.file_.get(), bytes);
    upload.received_ += static_cast<std::int64_t>(bytes.size());
    // A sweep judges a staging folder by its age: each chunk makes this one young again.
    Files::touch(upload.folder_);
}

OwnedEntry Cache::store(Upload upload, const std::string& fileName, const std::string& sha256,
                        const std::string& format) {
    if (!isUsableFileName(fileName) || fileName == uploadFileName) {
        throw CacheFailure::io("file-name");
    }
    try {
        Files::flush(upload.file_);
        upload.file_.reset();
        const std::string& staging = upload.staging_;
        const std::string clipPath = staging + "/" + fileName;
        Files::renameExclusive(staging + "/" + std::string(uploadFileName), clipPath);
        const std::optional<Files::Status> status = Files::statusOf(clipPath);
        if (!status || status->kind != Files::Status::Kind::regularFile) {
            throw CacheFailure::io("stat");
        }
        const FileIdentity identity{status->device, status->inode, status->size};
        const Descriptor cacheLock = waitForCacheLock();
        Descriptor ownerLock = takeOwnerLock(staging);
        const std::string preparedId = random_->hex(16);
        EntryRecord record =
            preparedRecord(preparedId, fileName, upload.received_, sha256, clock_->wallNow());
        record.format = format;
        writeRecord(staging + "/entry.json", record);
        Files::flushDirectory(staging);
        const std::string directory = entriesDirectory_ + "/" + preparedId;
        Files::renameExclusive(staging, directory);
        Files::flushDirectory(entriesDirectory_);
        // Stored: the folder is the entry's now, and its room is counted as stored audio.
        upload.staging_.clear();
        return OwnedEntry(preparedId, directory, directory + "/" + fileName, std::move(record),
                          identity, std::move(ownerLock));
    } catch (const CacheFailure&) {
        throw;
    } catch (const FileFailure& failure) {
        throw CacheFailure::io(failure.description());
    }
}

std::string Cache::makeStagingDirectory() {
    const std::string staging =
        entriesDirectory_ + "/" + std::string(stagingPrefix) + random_->hex(8);
    bool created = false;
    try {
        created = Files::createDirectory(staging);
    } catch (const FileFailure&) {
    }
    if (!created) {
        throw CacheFailure::io("mkdir");
    }
    return staging;
}

void Cache::update(OwnedEntry& entry, EntryState state, std::optional<double> retainUntil) {
    RecordBatch batch;
    stage(batch, entry, state, retainUntil);
    commit(batch);
}

void Cache::stage(RecordBatch& batch, OwnedEntry& entry, EntryState state,
                  std::optional<double> retainUntil) {
    EntryRecord next = entry.record_;
    next.state = state;
    next.touchedAt = clock_->wallNow();
    next.retainUntil = retainUntil;
    // The one thing that keeps a record from being written: a time JSON cannot hold. Encoding
    // waits for commit, off the answer's path.
    if (!std::isfinite(next.createdAt) || !std::isfinite(next.touchedAt) ||
        !std::isfinite(next.retainUntil.value_or(0))) {
        throw CacheFailure::io("encode");
    }
    // Named here, on the caller's thread and in the order of its other random draws.
    std::string temporaryName = ".entry.json." + random_->hex(8);
    batch.staged_.push_back({&entry, std::move(next), std::move(temporaryName), std::nullopt});
}

void Cache::commit(RecordBatch& batch) {
    // Only the owner rewrites a record; readers in other processes see the old or the new
    // record whole because the flushed temporary is renamed over it. Each step runs over the
    // whole batch before the next, and the flushes of a step wait for the disk together.
    std::vector<RecordBatch::Staged>& staged = batch.staged_;
    std::size_t placed = 0;
    const auto flushFolders = [&] {
        atOnce(placed,
               [&](std::size_t index) { Files::flushDirectory(staged[index].entry->directory_); });
        staged.erase(staged.begin(), staged.begin() + static_cast<std::ptrdiff_t>(placed));
    };
    try {
        for (RecordBatch::Staged& record : staged) {
            const std::optional<std::string> encoded = record.record.encode();
            if (!encoded) {
                throw FileFailure("encode", EINVAL);
            }
            record.file = Files::stage(record.entry->directory_ + "/entry.json", bytesOf(*encoded),
                                       record.temporaryName);
        }
        atOnce(staged.size(), [&](std::size_t index) { Files::flush(*staged[index].file); });
        for (; placed < staged.size(); ++placed) {
            Files::putInPlace(*staged[placed].file);
            staged[placed].entry->record_ = std::move(staged[placed].record);
        }
    } catch (const FileFailure&) {
        flushFolders();
        for (RecordBatch::Staged& record : staged) {
            record.file.reset();
        }
        throw;
    }
    flushFolders();
}

bool Cache::isIntact(const OwnedEntry& entry) const {
    const std::optional<Files::Status> status = Files::statusOf(entry.fileURL_);
    return status && status->kind == Files::Status::Kind::regularFile && status->ownedByUser &&
           FileIdentity{status->device, status->inode, status->size} == entry.identity_;
}

void Cache::deleteEntry(OwnedEntry& entry) {
    // Removed while still owned, so no sweep judges the half-removed entry meanwhile.
    if (!entry.directory_.empty()) {
        Files::removeTree(entry.directory_);
    }
    relinquish(entry);
}

void Cache::relinquish(OwnedEntry& entry) {
    entry.lock_.reset();
}

SweepReport Cache::sweep() {
    const Descriptor lock = Files::openLockFile(root_ + "/cache.lock", true);
    if (!lock.isOpen() || !Files::tryLockExclusive(lock)) {
        return SweepReport{.skipped = true};
    }
    return sweepWhileLocked();
}

SweepReport Cache::sweepWhileLocked() {
    const double now = clock_->wallNow();
    SweepReport report;
    visitOwnDirectories(entriesDirectory_, [&](int entries, const std::string& name, bool staging,
                                               const Files::Status& status) {
        const std::string directory = entriesDirectory_ + "/" + name;
        // The folder's times in whole seconds: the expiry rules need no finer steps.
        if (staging) {
            if (now > static_cast<double>(status.modified) + limits_.temporaryMaxAge) {
                Files::removeTree(directory);
                ++report.temporariesDeleted;
            }
            return;
        }
        // Our own lock, when we get it, keeps the entry ours while we judge and remove it. A
        // lock file that is missing, or that no process could ever lock through, lets the record
        // decide; one that failed to open for a passing reason (no descriptor left while another
        // thread used the last, say) may well be held.
        const Descriptor ownerLock = Files::openLockFile(directory + "/owner.lock", false);
        const bool owned =
            ownerLock.isOpen() ? !Files::tryLockExclusive(ownerLock) : isTransient(errno);
        if (owned) {
            ++report.owned;
            return;
        }
        const RecordRead read = readRecordAt(entries, name);
        if (!read.known) {
            ++report.kept;
            return;
        }
        const double expiry =
            EntryLifecycle::expiry(read.record, static_cast<double>(status.changed), limits_);
        if (now > expiry) {
            Files::removeTree(directory);
            ++report.deleted;
        } else {
            ++report.kept;
        }
    });
    return report;
}

}  // namespace quenra
