// The clip cache shared by every host process of the user: one private directory per accepted
// clip, created atomically under the cache lock and within the size limits, owned through a
// per-entry lock while a process uses it, and swept once nobody owns it and it has expired.
//
// Layout under the root (directories 0700, files 0600):
//   cache.lock                      serialises every create with every sweep
//   arm.lock                        at most one armed drag per user (path only)
//   entries/<32 hex>/               one entry: the clip file, entry.json, owner.lock
//   entries/.tmp-<16 hex>/          a create in progress, or left by a crash
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bridge_core/entry_record.h"
#include "bridge_core/files.h"
#include "bridge_core/limits.h"
#include "bridge_core/services.h"

namespace quenra {

// What the clip file was when the cache wrote it.
struct FileIdentity {
    std::int64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;

    bool operator==(const FileIdentity&) const = default;
};

// An entry this process created and still owns. Its open owner-lock descriptor is the
// ownership: destroying the object closes it, leaving the entry's files for the sweeper.
class OwnedEntry {
  public:
    OwnedEntry(OwnedEntry&&) noexcept = default;
    OwnedEntry& operator=(OwnedEntry&&) noexcept = default;

    const std::string& preparedId() const { return preparedId_; }
    const std::string& directory() const { return directory_; }
    // The clip file's path (the directory joined with the file name).
    const std::string& fileURL() const { return fileURL_; }
    // The record as last written; only Cache::update replaces it.
    const EntryRecord& record() const { return record_; }
    const FileIdentity& identity() const { return identity_; }
    // -1 once ownership has been given up.
    int lockDescriptor() const { return lock_.get(); }

  private:
    friend class Cache;
    OwnedEntry(std::string preparedId, std::string directory, std::string fileURL,
               EntryRecord record, FileIdentity identity, Descriptor lock);

    std::string preparedId_;
    std::string directory_;
    std::string fileURL_;
    EntryRecord record_;
    FileIdentity identity_;
    Descriptor lock_;
};

// Record rewrites made durable together: stage only makes each new record; commit then encodes
// and writes each beside its entry's record and flushes them all at once, renames each over its
// record and flushes each folder. Until commit, the records on disk and in the entries are the old
// ones; destroying a batch removes what it wrote and did not put in place.
class RecordBatch {
  public:
    RecordBatch() = default;
    RecordBatch(RecordBatch&&) noexcept = default;
    RecordBatch& operator=(RecordBatch&&) noexcept = default;

    bool empty() const { return staged_.empty(); }
    std::size_t size() const { return staged_.size(); }

  private:
    friend class Cache;
    struct Staged {
        // The entry outlives the batch: its owner holds both.
        OwnedEntry* entry;
        EntryRecord record;
        std::string temporaryName;
        // Written by commit.
        std::optional<Files::Staged> file;
    };
    std::vector<Staged> staged_;
};

class Cache;

// An audio clip arriving in chunks. Its bytes gather in one file of a staging folder of its own
// under the entries folder, which a sweep takes once it has been left alone for
// temporaryMaxAge (each chunk renews it); nothing exists under an entry id until Cache::store.
// Destroying an upload that was not stored removes its folder and gives its room back.
class Upload {
  public:
    Upload(Upload&& other) noexcept;
    Upload& operator=(Upload&& other) noexcept;
    Upload(const Upload&) = delete;
    Upload& operator=(const Upload&) = delete;
    ~Upload();

    // The length announced, and the bytes written so far.
    std::int64_t byteLength() const { return byteLength_; }
    std::int64_t received() const { return received_; }

  private:
    friend class Cache;
    Upload() = default;
    void discard() noexcept;

    Cache* cache_ = nullptr;
    std::string staging_;
    Descriptor folder_;
    Descriptor file_;
    std::int64_t byteLength_ = 0;
    std::int64_t received_ = 0;
};

struct SweepReport {
    std::int64_t deleted = 0;
    std::int64_t kept = 0;
    std::int64_t owned = 0;
    std::int64_t temporariesDeleted = 0;
    // The cache lock was busy or could not be opened; all counts are 0.
    bool skipped = false;

    bool operator==(const SweepReport&) const = default;
};

// MIDI entries and their recorded bytes: what cacheMaxEntries and cacheMaxBytes bound.
// audioBytes, the recorded bytes of audio entries, has a budget of its own.
struct CacheUsage {
    std::int64_t entries = 0;
    std::int64_t bytes = 0;
    std::int64_t audioBytes = 0;

    bool operator==(const CacheUsage&) const = default;
};

// Why a create failed: io with a detail ("cache-lock", "cache-busy", "entries-unreadable",
// "mkdir", "stat", "owner-lock", a FileFailure description), or full.
class CacheFailure : public std::runtime_error {
  public:
    enum class Kind { io, full };

    static CacheFailure io(std::string detail) { return CacheFailure(Kind::io, std::move(detail)); }
    static CacheFailure full() { return CacheFailure(Kind::full, ""); }

    Kind kind() const { return kind_; }
    // Empty for full.
    const std::string& detail() const { return detail_; }

    bool operator==(const CacheFailure& other) const {
        return kind_ == other.kind_ && (kind_ == Kind::full || detail_ == other.detail_);
    }

  private:
    CacheFailure(Kind kind, std::string detail);

    Kind kind_;
    std::string detail_;
};

class Cache {
  public:
    static constexpr std::string_view directoryName = "tech.ostrell.quenra.bridge";
    static constexpr std::int64_t maxRecordBytes = 65536;

    // The user's caches directory joined with directoryName; nothing when the platform knows
    // no caches directory.
    static std::optional<std::string> defaultRoot();

    // Makes sure root and root/entries are private directories; throws FileFailure otherwise.
    // clock and random must outlive the cache.
    Cache(std::string root, const Limits& limits, BridgeClock& clock, RandomSource& random);

    const std::string& root() const { return root_; }
    const std::string& entriesDirectory() const { return entriesDirectory_; }
    const Limits& limits() const { return limits_; }
    std::string armLockURL() const;

    // Stores an already validated clip as a new owned entry in the prepared state. fileName is
    // one path component. Throws CacheFailure; a failed create leaves nothing behind.
    OwnedEntry create(std::span<const std::uint8_t> midi, const std::string& fileName,
                      const std::string& sha256);

    // Rewrites the entry's record with a new state, touchedAt = now and retainUntil (absent
    // removes it). Throws the failing step's FileFailure, or CacheFailure::io("encode") for a
    // time JSON cannot hold; on failure neither the disk nor entry.record() changes.
    void update(OwnedEntry& entry, EntryState state, std::optional<double> retainUntil);

    // update in two halves, for many records at once. stage adds the new record to the batch
    // without touching the disk (throwing CacheFailure::io("encode") as update does; a failed
    // stage adds nothing); commit writes and flushes every staged record at once, then puts each
    // in place, then flushes their folders, so the writes and flushes of a whole batch wait for
    // the disk together, and the batch is empty afterwards. A commit that fails throws the
    // FileFailure and leaves in the batch the records it did not put in place, their temporaries
    // removed: a failed write or flush puts none in place, a failed rename those after it.
    void stage(RecordBatch& batch, OwnedEntry& entry, EntryState state,
               std::optional<double> retainUntil);
    void commit(RecordBatch& batch);

    // Starts an upload of byteLength bytes of audio. Throws CacheFailure::full when the audio
    // stored plus the open uploads' announced lengths would pass audioCacheMaxBytes, or the
    // volume would keep less than audioFreeBytes free; CacheFailure::io when the staging folder
    // cannot be made.
    Upload beginUpload(std::int64_t byteLength);
    // Writes the upload's next bytes, which the caller has checked fit its length. Throws the
    // FileFailure of a write that failed; the upload is then of no further use.
    void append(Upload& upload, std::span<const std::uint8_t> bytes);
    // Makes a complete upload a new owned entry in the prepared state, as create makes one, its
    // record naming the format. Throws CacheFailure; the upload is gone either way.
    OwnedEntry store(Upload upload, const std::string& fileName, const std::string& sha256,
                     const std::string& format);

    // The clip file is still the regular file, owned by us, that create wrote.
    bool isIntact(const OwnedEntry& entry) const;

    // Removes the entry's directory and gives up ownership. Never fails; safe to repeat.
    void deleteEntry(OwnedEntry& entry);
    // Gives up ownership and leaves the entry to the sweeper. Never fails; safe to repeat.
    void relinquish(OwnedEntry& entry);

    // Removes expired unowned entries and old staging directories, unless another process
    // holds the cache lock. Never fails.
    SweepReport sweep();

    // Entries and recorded clip bytes, counted without any lock. Never fails.
    CacheUsage usage() const;

  private:
    friend class Upload;
    Descriptor waitForCacheLock();
    // Nothing when the entries folder cannot be opened or listed.
    std::optional<CacheUsage> scanUsage() const;
    SweepReport sweepWhileLocked();
    // A new private staging directory under the entries folder. Throws CacheFailure::io.
    std::string makeStagingDirectory();
    OwnedEntry createWhileLocked(std::span<const std::uint8_t> midi, const std::string& fileName,
                                 const std::string& sha256);

    std::string root_;
    std::string entriesDirectory_;
    Limits limits_;
    BridgeClock* clock_;
    RandomSource* random_;
    // The announced lengths of this process's open uploads.
    std::int64_t openUploadBytes_ = 0;
};

}  // namespace quenra
