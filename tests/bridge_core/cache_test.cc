#include "bridge_core/cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <ostream>

#include "bridge_core/files.h"
#include "bridge_core/limits.h"
#include "platform/system_files.h"
#include "platform/system_locations.h"
#include "support/cache_printers.h"
#include "support/deterministic_random.h"
#include "support/directory_listing.h"
#include "support/failure_of.h"
#include "support/file_mode.h"
#include "support/manual_clock.h"
#include "support/temporary_directory.h"

namespace quenra {
namespace {

using testing::DeterministicRandom;
using testing::ManualClock;
using testing::modeOf;
using testing::readFileText;
using testing::TemporaryDirectory;
using testing::writeFileText;

constexpr double startWall = 1700000000.25;
const std::vector<std::uint8_t> clip = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
const std::string digest(64, 'e');

std::vector<std::uint8_t> idBytes(std::uint8_t fill) {
    return std::vector<std::uint8_t>(16, fill);
}
std::string idText(std::uint8_t fill) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (int index = 0; index < 16; ++index) {
        text += digits[fill >> 4];
        text += digits[fill & 15];
    }
    return text;
}

std::vector<std::string> sortedNames(const std::string& directory) {
    std::vector<std::string> names = testing::namesIn(directory);
    std::sort(names.begin(), names.end());
    return names;
}

std::string recordJson(std::string_view state, double touchedAt, std::int64_t byteLength,
                       std::optional<double> retainUntil = std::nullopt) {
    EntryRecord record;
    record.preparedId = "x";
    record.state = *entryStateFromRaw(state);
    record.fileName = "a.mid";
    record.byteLength = byteLength;
    record.sha256 = digest;
    record.createdAt = touchedAt;
    record.touchedAt = touchedAt;
    record.retainUntil = retainUntil;
    return *record.encode();
}

class CacheTest : public ::testing::Test {
  protected:
    CacheTest() : root(temporary.join("cache")) {}

    Cache& cache() {
        if (!cache_) {
            cache_.emplace(root, limits, clock, random);
        }
        return *cache_;
    }

    // An entry made by hand, as another (now gone) process would have left it.
    std::string plant(const std::string& name, const std::optional<std::string>& record,
                      bool withLock = true) {
        cache();
        const std::string directory = cache().entriesDirectory() + "/" + name;
        EXPECT_EQ(::mkdir(directory.c_str(), 0700), 0) << directory;
        writeFileText(directory + "/a.mid", "MThd");
        if (record) {
            writeFileText(directory + "/entry.json", *record);
        }
        if (withLock) {
            writeFileText(directory + "/owner.lock", "");
        }
        return directory;
    }

    bool exists(const std::string& name) {
        return std::filesystem::exists(
            std::filesystem::symlink_status(cache().entriesDirectory() + "/" + name));
    }

    TemporaryDirectory temporary;
    std::string root;
    Limits limits = Limits::standard();
    ManualClock clock{startWall};
    DeterministicRandom random;
    std::optional<Cache> cache_;
};

TEST_F(CacheTest, InitMakesThePrivateLayoutAndNamesItsLockFiles) {
    ASSERT_EQ(::mkdir(root.c_str(), 0755), 0);
    cache();
    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(root + "/entries"), 0700u);
    EXPECT_EQ(cache().entriesDirectory(), root + "/entries");
    EXPECT_EQ(cache().armLockURL(), root + "/arm.lock");
    EXPECT_EQ(sortedNames(root), std::vector<std::string>{"entries"});
}

TEST_F(CacheTest, InitRefusesATamperedRoot) {
    const std::string elsewhere = temporary.join("elsewhere");
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), root.c_str()), 0);
    EXPECT_THROW(Cache(root, limits, clock, random), FileFailure);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));

    const std::string fileRoot = temporary.join("file-root");
    ASSERT_EQ(::mkdir(fileRoot.c_str(), 0700), 0);
    writeFileText(fileRoot + "/entries", "not a directory");
    try {
        Cache tampered(fileRoot, limits, clock, random);
        ADD_FAILURE() << "a file where entries belongs was accepted";
    } catch (const FileFailure& failure) {
        EXPECT_EQ(failure, FileFailure("not-a-private-directory", 1));
    }
    EXPECT_THROW(Cache(temporary.join("no/parent"), limits, clock, random), FileFailure);
}

TEST_F(CacheTest, DefaultRootIsTheUserCachesFolderJoinedWithTheDirectoryName) {
    // The Linux layer's rule reads XDG_CACHE_HOME; on macOS Foundation names the folder.
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv("XDG_CACHE_HOME", "/somewhere/caches", 1);
    const std::optional<std::string> caches = SystemLocations::userCachesDirectory();
    ASSERT_TRUE(caches);
    EXPECT_EQ(Cache::defaultRoot(), *caches + "/tech.ostrell.quenra.bridge");
    saved ? ::setenv("XDG_CACHE_HOME", saved->c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
}

TEST_F(CacheTest, CreateWritesTheExactLayoutModesAndRecord) {
    random.script(idBytes(0xab));
    const mode_t previous = ::umask(0);
    OwnedEntry entry = cache().create(clip, "Song.mid", digest);
    ::umask(previous);

    const std::string id = idText(0xab);
    EXPECT_EQ(entry.preparedId(), id);
    EXPECT_EQ(entry.directory(), root + "/entries/" + id);
    EXPECT_EQ(entry.fileURL(), root + "/entries/" + id + "/Song.mid");
    EXPECT_GE(entry.lockDescriptor(), 0);
    EXPECT_EQ(sortedNames(root), (std::vector<std::string>{"cache.lock", "entries"}));
    EXPECT_EQ(sortedNames(root + "/entries"), std::vector<std::string>{id});
    EXPECT_EQ(sortedNames(entry.directory()),
              (std::vector<std::string>{"Song.mid", "entry.json", "owner.lock"}));
    EXPECT_EQ(modeOf(entry.directory()), 0700u);
    for (const char* file : {"Song.mid", "entry.json", "owner.lock"}) {
        EXPECT_EQ(modeOf(entry.directory() + "/" + file), 0600u) << file;
    }
    EXPECT_EQ(modeOf(root + "/cache.lock"), 0600u);
    EXPECT_EQ(readFileText(entry.fileURL()), std::string(clip.begin(), clip.end()));
    EXPECT_EQ(readFileText(entry.directory() + "/entry.json"),
              "{\"byteLength\":8,\"createdAt\":1700000000.25,\"fileName\":\"Song.mid\","
              "\"preparedId\":\"" +
                  id + "\",\"sha256\":\"" + digest +
                  "\",\"state\":\"prepared\",\"touchedAt\":1700000000.25,\"version\":1}");
    EXPECT_EQ(EntryRecord::decode(readFileText(entry.directory() + "/entry.json")), entry.record());
    struct stat status {};
    ASSERT_EQ(::lstat(entry.fileURL().c_str(), &status), 0);
    EXPECT_EQ(entry.identity(),
              (FileIdentity{static_cast<std::int64_t>(status.st_dev), status.st_ino, 8}));
    EXPECT_EQ(cache().usage(), (CacheUsage{1, 8}));
}

TEST_F(CacheTest, UpdateRewritesTheRecordAndDropsAnAbsentRetainUntil) {
    OwnedEntry entry = cache().create(clip, "a.mid", digest);
    const std::string recordPath = entry.directory() + "/entry.json";
    clock.advanceWall(10);
    cache().update(entry, EntryState::armed, startWall + 100.5);
    const std::string armed = readFileText(recordPath);
    EXPECT_NE(armed.find("\"createdAt\":1700000000.25,"), std::string::npos);
    EXPECT_NE(armed.find("\"retainUntil\":1700000100.75,"), std::string::npos);
    EXPECT_NE(armed.find("\"state\":\"armed\",\"touchedAt\":1700000010.25,"), std::string::npos);
    EXPECT_EQ(EntryRecord::decode(armed), entry.record());

    clock.advanceWall(1);
    cache().update(entry, EntryState::published, std::nullopt);
    const std::string published = readFileText(recordPath);
    EXPECT_EQ(published.find("retainUntil"), std::string::npos);
    EXPECT_EQ(entry.record().state, EntryState::published);
    EXPECT_EQ(entry.record().createdAt, startWall);
    EXPECT_EQ(entry.record().touchedAt, startWall + 11);
    EXPECT_EQ(sortedNames(entry.directory()),
              (std::vector<std::string>{"a.mid", "entry.json", "owner.lock"}));
}

TEST_F(CacheTest, AFailedUpdateChangesNeitherTheDiskNorTheEntry) {
    OwnedEntry entry = cache().create(clip, "a.mid", digest);
    const std::string before = readFileText(entry.directory() + "/entry.json");
    const EntryRecord record = entry.record();
    // The temporary's name is taken, so its exclusive create fails.
    random.script(std::vector<std::uint8_t>(8, 0x11));
    writeFileText(entry.directory() + "/.entry.json.1111111111111111", "in the way");
    try {
        cache().update(entry, EntryState::armed, startWall + 5);
        ADD_FAILURE() << "update succeeded over a taken temporary";
    } catch (const FileFailure& failure) {
        EXPECT_EQ(failure, FileFailure("open", EEXIST));
    }
    EXPECT_EQ(readFileText(entry.directory() + "/entry.json"), before);
    EXPECT_EQ(entry.record(), record);

    EXPECT_THROW(cache().update(entry, EntryState::armed, 0.0 / 0.0), CacheFailure);
    EXPECT_EQ(readFileText(entry.directory() + "/entry.json"), before);
}

// A batch writes nothing until its commit; a rename that fails half way leaves the records
// before it placed (and their entries saying so), the rest as they were, and no temporary
// anywhere.
TEST_F(CacheTest, ARecordBatchPlacesNothingUntilCommitAndStopsAtAFailedRename) {
    std::vector<OwnedEntry> entries;
    std::vector<std::string> before;
    for (const char* name : {"a.mid", "b.mid", "c.mid"}) {
        entries.push_back(cache().create(clip, name, digest));
        before.push_back(readFileText(entries.back().directory() + "/entry.json"));
    }
    const auto names = [&](const OwnedEntry& entry) { return sortedNames(entry.directory()); };
    const auto recordOf = [&](std::size_t index) {
        return readFileText(entries[index].directory() + "/entry.json");
    };
    {
        RecordBatch dropped;
        cache().stage(dropped, entries[0], EntryState::armed, startWall + 5);
        EXPECT_EQ(dropped.size(), 1u);
    }
    EXPECT_EQ(names(entries[0]), (std::vector<std::string>{"a.mid", "entry.json", "owner.lock"}));

    clock.advanceWall(3);
    RecordBatch batch;
    for (OwnedEntry& entry : entries) {
        cache().stage(batch, entry, EntryState::armed, startWall + 5);
    }
    EXPECT_EQ(batch.size(), 3u);
    for (std::size_t index = 0; index < entries.size(); ++index) {
        EXPECT_EQ(recordOf(index), before[index]);
        EXPECT_EQ(entries[index].record().state, EntryState::prepared);
    }
    // The second record's name now holds a folder with something in it: no rename replaces it.
    const std::string blocked = entries[1].directory() + "/entry.json";
    std::filesystem::remove(blocked);
    std::filesystem::create_directory(blocked);
    writeFileText(blocked + "/inside", "");
    try {
        cache().commit(batch);
        ADD_FAILURE() << "a rename over a folder succeeded";
    } catch (const FileFailure& failure) {
        EXPECT_EQ(failure.operation(), "rename");
    }
    EXPECT_EQ(batch.size(), 2u) << "the records it did not place";
    EXPECT_EQ(EntryRecord::decode(recordOf(0)), entries[0].record());
    EXPECT_EQ(entries[0].record().state, EntryState::armed);
    EXPECT_EQ(entries[0].record().touchedAt, startWall + 3);
    EXPECT_EQ(entries[1].record().state, EntryState::prepared);
    EXPECT_EQ(recordOf(2), before[2]);
    EXPECT_EQ(entries[2].record().state, EntryState::prepared);
    for (const OwnedEntry& entry : entries) {
        EXPECT_EQ(names(entry).size(), 3u) << entry.directory();
    }
}

TEST_F(CacheTest, ACollidingIdFailsTheRenameAndLeavesNoStaging) {
    random.script(idBytes(0x42));
    OwnedEntry first = cache().create(clip, "a.mid", digest);
    random.script(idBytes(0x42));
    try {
        cache().create(clip, "b.mid", digest);
        ADD_FAILURE() << "two entries shared an id";
    } catch (const CacheFailure& failure) {
        EXPECT_EQ(failure, CacheFailure::io("rename failed (errno 17)"));
    }
    EXPECT_EQ(sortedNames(cache().entriesDirectory()), std::vector<std::string>{idText(0x42)});
    EXPECT_EQ(sortedNames(first.directory()),
              (std::vector<std::string>{"a.mid", "entry.json", "owner.lock"}));
    EXPECT_TRUE(cache().isIntact(first));
}

TEST_F(CacheTest, AClipThatCannotBeWrittenLeavesNoStagingAndNoOpenLock) {
    cache();
    const auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/dev/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = openDescriptors();
    // One component, but longer than any file name may be: the owner lock is already held
    // when the clip's creation fails.
    try {
        cache().create(clip, std::string(300, 'n') + ".mid", digest);
        ADD_FAILURE() << "a 304-byte file name was written";
    } catch (const CacheFailure& failure) {
        EXPECT_EQ(failure.kind(), CacheFailure::Kind::io);
    }
    EXPECT_TRUE(testing::namesIn(cache().entriesDirectory()).empty());
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(CacheTest, AFileNameThatIsNotOneHarmlessComponentIsRefused) {
    for (const std::string& name :
         std::vector<std::string>{"", ".", "..", "../escape.mid", "a/b.mid", "entry.json",
                                  "owner.lock", std::string("nul\0.mid", 8)}) {
        try {
            cache().create(clip, name, digest);
            ADD_FAILURE() << "accepted " << name;
        } catch (const CacheFailure& failure) {
            EXPECT_EQ(failure, CacheFailure::io("file-name"));
        }
    }
    EXPECT_TRUE(testing::namesIn(cache().entriesDirectory()).empty());
    EXPECT_FALSE(std::filesystem::exists(root + "/escape.mid"));
}

TEST_F(CacheTest, EntryLimitSweepsOnlyWhenFullAndThenFails) {
    limits.cacheMaxEntries = 3;
    const std::string stale = recordJson("prepared", startWall - 1000, 1);
    plant(idText(1), stale);
    plant(idText(2), recordJson("prepared", startWall, 1));
    // Two entries, room for one more: no sweep, so the stale entry survives.
    OwnedEntry third = cache().create(clip, "a.mid", digest);
    EXPECT_TRUE(exists(idText(1)));
    // Full: the sweep removes the stale entry and makes room.
    OwnedEntry fourth = cache().create(clip, "b.mid", digest);
    EXPECT_FALSE(exists(idText(1)));
    // Full again with nothing expired.
    EXPECT_EQ(

        testing::failureOf<CacheFailure>([&] { cache().create(clip, "c.mid", digest); }),
        CacheFailure::full());
    EXPECT_EQ(cache().usage().entries, 3);
}

TEST_F(CacheTest, ByteLimitHoldsExactly) {
    limits.cacheMaxBytes = 100;
    plant(idText(1), recordJson("prepared", startWall, 100 - 8 - 1));
    OwnedEntry fits = cache().create(clip, "a.mid", digest);  // brings the total to 99
    EXPECT_EQ(cache().usage(), (CacheUsage{2, 99}));
    EXPECT_THROW(cache().create(std::vector<std::uint8_t>{'x', 'y'}, "b.mid", digest),
                 CacheFailure);                                                          // 101
    OwnedEntry exact = cache().create(std::vector<std::uint8_t>{'x'}, "c.mid", digest);  // 100
    EXPECT_EQ(cache().usage(), (CacheUsage{3, 100}));
}

TEST_F(CacheTest, HostileLengthsSaturateInsteadOfMakingRoom) {
    plant(idText(1), recordJson("armed", startWall, -1000000, startWall + 1e6));
    EXPECT_EQ(cache().usage(), (CacheUsage{1, 0}));
    plant(idText(2), recordJson("armed", startWall, INT64_MAX, startWall + 1e6));
    plant(idText(3), recordJson("armed", startWall, INT64_MAX, startWall + 1e6));
    EXPECT_EQ(cache().usage(), (CacheUsage{3, INT64_MAX}));
    EXPECT_EQ(testing::failureOf<CacheFailure>([&] { cache().create(clip, "a.mid", digest); }),
              CacheFailure::full());
}

TEST_F(CacheTest, OwnedEntriesCountAndAreNeverSweptEvenWhenExpired) {
    OwnedEntry entry = cache().create(clip, "a.mid", digest);
    clock.advanceWall(1e7);
    // A second cache in this process opens the lock file anew and finds it taken.
    Cache other(root, limits, clock, random);
    EXPECT_EQ(other.sweep(), (SweepReport{.owned = 1}));
    EXPECT_EQ(other.usage(), (CacheUsage{1, 8}));
    EXPECT_TRUE(cache().isIntact(entry));

    cache().relinquish(entry);
    EXPECT_EQ(entry.lockDescriptor(), -1);
    cache().relinquish(entry);
    EXPECT_EQ(other.sweep(), (SweepReport{.deleted = 1}));
    EXPECT_TRUE(testing::namesIn(cache().entriesDirectory()).empty());
}

// A scan writes nothing: no access time of the folder or of a record changes, so the next
// entry's flush carries no inode updates of the scans before it.
TEST_F(CacheTest, UsageAndSweepLeaveAccessTimesAlone) {
    if (SystemFiles::leaveAccessTimeFlag == 0) {
        GTEST_SKIP() << "no O_NOATIME here: reads of the cache update access times";
    }
    OwnedEntry entry = cache().create(clip, "a.mid", digest);
    const std::string folder = cache().entriesDirectory();
    const std::string record = entry.directory() + "/entry.json";
    const auto age = [](const std::string& path) {
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        const timespec times[2] = {{status.st_mtime - 86400, 0}, {0, UTIME_OMIT}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    const auto accessed = [](const std::string& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0);
        return status.st_atime;
    };
    age(folder);
    age(record);
    const auto folderBefore = accessed(folder);
    const auto recordBefore = accessed(record);

    EXPECT_EQ(cache().usage(), (CacheUsage{1, 8}));
    cache().relinquish(entry);  // so that the sweep reads the record too
    EXPECT_EQ(cache().sweep(), (SweepReport{.kept = 1}));
    EXPECT_EQ(accessed(folder), folderBefore);
    EXPECT_EQ(accessed(record), recordBefore);

    // Ordinary reads move both, so the checks above could have failed.
    (void)testing::namesIn(folder);
    (void)Files::readSmall(record, 1024);
    if (accessed(folder) == folderBefore || accessed(record) == recordBefore) {
        GTEST_SKIP() << "this file system records no access times";
    }
}

TEST_F(CacheTest, DestroyingAnOwnedEntryGivesUpOwnershipButKeepsItsFiles) {
    std::string directory;
    {
        OwnedEntry entry = cache().create(clip, "a.mid", digest);
        OwnedEntry moved = std::move(entry);
        EXPECT_EQ(entry.lockDescriptor(), -1);
        directory = moved.directory();
        EXPECT_EQ(cache().sweep(), (SweepReport{.owned = 1}));
    }
    EXPECT_TRUE(std::filesystem::exists(directory + "/a.mid"));
    EXPECT_EQ(cache().sweep(), (SweepReport{.kept = 1}));
}

TEST_F(CacheTest, DeleteRemovesTheEntryAndIsSafeToRepeat) {
    OwnedEntry entry = cache().create(clip, "a.mid", digest);
    cache().deleteEntry(entry);
    EXPECT_FALSE(std::filesystem::exists(entry.directory()));
    EXPECT_EQ(entry.lockDescriptor(), -1);
    cache().deleteEntry(entry);
    cache().relinquish(entry);
    EXPECT_EQ(cache().usage(), (CacheUsage{0, 0}));
}

struct ExpiryCase {
    const char* what;
    std::string state;
    double touchedAgo;  // seconds before now
    std::optional<double> retainFromNow;
    bool kept;
};

void PrintTo(const ExpiryCase& value, std::ostream* out) {
    *out << value.what;
}

class ExpiryTable : public CacheTest, public ::testing::WithParamInterface<ExpiryCase> {};

TEST_P(ExpiryTable, KeepsUntilStrictlyPastTheExpiry) {
    const ExpiryCase& expiry = GetParam();
    const double now = startWall;
    std::optional<double> retainUntil;
    if (expiry.retainFromNow) {
        retainUntil = now + *expiry.retainFromNow;
    }
    plant(idText(7), recordJson(expiry.state, now - expiry.touchedAgo, 1, retainUntil));
    EXPECT_EQ(cache().sweep(), expiry.kept ? SweepReport{.kept = 1} : SweepReport{.deleted = 1})
        << expiry.what;
    EXPECT_EQ(exists(idText(7)), expiry.kept) << expiry.what;
}

INSTANTIATE_TEST_SUITE_P(
    Records, ExpiryTable,
    ::testing::Values(
        ExpiryCase{"prepared, idle exactly", "prepared", 300, std::nullopt, true},
        ExpiryCase{"prepared, idle longer", "prepared", 300.5, std::nullopt, false},
        ExpiryCase{"prepared ignores retainUntil", "prepared", 300.5, 1000, false},
        ExpiryCase{"armed, retained until now", "armed", 1e6, 0, true},
        ExpiryCase{"armed, retained until just before", "armed", 0, -0.25, false},
        ExpiryCase{"published, retained long", "published", 1e6, 5000, true},
        ExpiryCase{"armed, retention exactly", "armed", 86400, std::nullopt, true},
        ExpiryCase{"armed, retention passed", "armed", 86400.5, std::nullopt, false},
        ExpiryCase{"published, retention exactly", "published", 86400, std::nullopt, true},
        ExpiryCase{"published, retention passed", "published", 86400.5, std::nullopt, false}));

struct UnreadableCase {
    const char* what;
    std::optional<std::string> record;
};

void PrintTo(const UnreadableCase& value, std::ostream* out) {
    *out << value.what;
}

class UnreadableRecords : public CacheTest, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadableRecords, CountAsEmptyEntriesAndExpireAfterTheirStatusChange) {
    const std::string directory = plant(idText(9), GetParam().record);
    EXPECT_EQ(cache().usage(), (CacheUsage{1, 0})) << GetParam().what;
    struct stat status {};
    ASSERT_EQ(::lstat(directory.c_str(), &status), 0);
    const auto changed = static_cast<double>(status.st_ctime);
    clock.setWall(changed + 86400);
    EXPECT_EQ(cache().sweep(), (SweepReport{.kept = 1})) << GetParam().what;
    clock.setWall(changed + 86400.5);
    EXPECT_EQ(cache().sweep(), (SweepReport{.deleted = 1})) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Records, UnreadableRecords,
                         ::testing::Values(UnreadableCase{"missing", std::nullopt},
                                           UnreadableCase{"garbage", "\x01not json"},
                                           UnreadableCase{"wrong type", "{\"byteLength\":\"8\"}"},
                                           UnreadableCase{"over 65536 bytes",
                                                          recordJson("prepared", startWall, 8) +
                                                              std::string(65537, ' ')}));

TEST_F(CacheTest, ARecordOfExactly65536BytesIsRead) {
    std::string record = recordJson("armed", startWall, 8, startWall + 10);
    record += std::string(65536 - record.size(), ' ');
    plant(idText(9), record);
    EXPECT_EQ(cache().usage(), (CacheUsage{1, 8}));
}

// No host can hold a lock through a missing lock file, a link or a folder under its name: the
// record decides, and nothing pins the entry for ever.
TEST_F(CacheTest, AnOwnerLockNoProcessCanHoldIsJudgedByTheRecord) {
    struct Case {
        const char* name;
        std::function<void(const std::string& lock)> plantLock;
    };
    const std::vector<Case> cases = {
        {"missing", [](const std::string&) {}},
        {"a link to a lock file",
         [](const std::string& lock) {
             writeFileText(lock + ".real", "");
             ASSERT_EQ(::symlink((lock + ".real").c_str(), lock.c_str()), 0);
         }},
        {"a dangling link",
         [](const std::string& lock) { ASSERT_EQ(::symlink("nowhere", lock.c_str()), 0); }},
        {"a folder", [](const std::string& lock) { ASSERT_EQ(::mkdir(lock.c_str(), 0700), 0); }},
    };
    std::uint8_t fill = 0;
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const std::string expired = idText(++fill);
        const std::string fresh = idText(++fill);
        item.plantLock(plant(expired, recordJson("prepared", startWall - 301, 1), false) +
                       "/owner.lock");
        item.plantLock(plant(fresh, recordJson("prepared", startWall, 1), false) + "/owner.lock");
        EXPECT_EQ(cache().sweep(), (SweepReport{.deleted = 1, .kept = 1}));
        EXPECT_FALSE(exists(expired));
        EXPECT_TRUE(exists(fresh));
        Files::removeTree(cache().entriesDirectory() + "/" + fresh);
    }
}

TEST_F(CacheTest, ACreateFailsWhenTheEntriesFolderCannotBeCounted) {
    cache();
    ASSERT_EQ(::rename(cache().entriesDirectory().c_str(), temporary.join("moved").c_str()), 0);
    ASSERT_EQ(::symlink(temporary.join("moved").c_str(), cache().entriesDirectory().c_str()), 0);
    EXPECT_EQ(testing::failureOf<CacheFailure>([&] { cache().create(clip, "a.mid", digest); }),
              CacheFailure::io("entries-unreadable"));
    EXPECT_EQ(testing::namesIn(temporary.join("moved")), std::vector<std::string>{});
}

TEST_F(CacheTest, StagingDirectoriesGoOnlyWhenOldAndExactlyNamed) {
    cache();
    const std::string entries = cache().entriesDirectory();
    const auto stage = [&](const std::string& name, double age) {
        const std::string path = entries + "/" + name;
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0);
        writeFileText(path + "/half.mid", "MT");
        const auto modified = static_cast<time_t>(startWall - age);
        const struct timeval times[2] = {{modified, 0}, {modified, 0}};
        EXPECT_EQ(::utimes(path.c_str(), times), 0);
    };
    stage(".tmp-0123456789abcdef", 3600.0 + 0.25);  // mtime + 3600 == now - 0.25 + fraction
    stage(".tmp-fedcba9876543210", 3599.0);         // not old enough
    stage(".tmp-0123456789abcde", 1e6);             // 15 digits
    stage(".tmp-0123456789abcdef0", 1e6);           // 17 digits
    stage(".tmp-0123456789ABCDEF", 1e6);            // uppercase
    EXPECT_EQ(cache().sweep(), (SweepReport{.temporariesDeleted = 1}));
    EXPECT_EQ(sortedNames(entries),
              (std::vector<std::string>{".tmp-0123456789ABCDEF", ".tmp-0123456789abcde",
                                        ".tmp-0123456789abcdef0", ".tmp-fedcba9876543210"}));
    EXPECT_EQ(cache().usage(), (CacheUsage{0, 0}));
}

TEST_F(CacheTest, StagingExpiryIsStrictOnWholeSeconds) {
    cache();
    const std::string path = cache().entriesDirectory() + "/.tmp-00000000000000aa";
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    const struct timeval times[2] = {{1700000000, 900000}, {1700000000, 900000}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
    clock.setWall(1700000000 + 3600);  // the fraction of the mtime is dropped
    EXPECT_EQ(cache().sweep(), SweepReport{});
    clock.setWall(1700000000 + 3600.25);
    EXPECT_EQ(cache().sweep(), (SweepReport{.temporariesDeleted = 1}));
}

TEST_F(CacheTest, NamesThatAreNotOurEntriesAreNeitherCountedNorSwept) {
    const std::string expired = recordJson("prepared", startWall - 1e6, 5);
    cache();
    const std::string entries = cache().entriesDirectory();
    plant(std::string(32, 'A'), expired);                // uppercase hex
    plant(idText(1).substr(1), expired);                 // 31 digits
    plant(idText(1) + "0", expired);                     // 33 digits
    writeFileText(entries + "/" + idText(2), "a file");  // not a directory
    // A link with an entry's name, pointing at an expired entry elsewhere.
    const std::string outside = temporary.join("outside");
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    writeFileText(outside + "/entry.json", expired);
    writeFileText(outside + "/a.mid", "MThd");
    ASSERT_EQ(::symlink(outside.c_str(), (entries + "/" + idText(3)).c_str()), 0);
    std::vector<std::string> expected = sortedNames(entries);
    if (::getuid() == 0) {
        const std::string foreign = plant(idText(4), expired);
        for (const std::string& path : {foreign, foreign + "/a.mid", foreign + "/entry.json"}) {
            ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
        }
        expected = sortedNames(entries);
    }
    EXPECT_EQ(cache().usage(), (CacheUsage{0, 0}));
    EXPECT_EQ(cache().sweep(), SweepReport{});
    EXPECT_EQ(sortedNames(entries), expected);
    EXPECT_EQ(sortedNames(outside), (std::vector<std::string>{"a.mid", "entry.json"}));
}

TEST_F(CacheTest, TamperedEntriesNeverLeadOutsideTheCache) {
    const std::string outside = temporary.join("outside");
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    writeFileText(outside + "/precious", "keep");
    writeFileText(outside + "/record.json", recordJson("armed", startWall, 5, startWall + 1e6));

    // Links inside an expired entry: removal takes the links, never their targets.
    const std::string linked = plant(idText(1), recordJson("prepared", startWall - 1e6, 5));
    ASSERT_EQ(::symlink(outside.c_str(), (linked + "/subdir").c_str()), 0);
    ASSERT_EQ(::symlink((outside + "/precious").c_str(), (linked + "/b.mid").c_str()), 0);
    // A record that is a link to a long-retained record elsewhere is not read.
    const std::string lured = plant(idText(2), std::nullopt);
    ASSERT_EQ(::symlink((outside + "/record.json").c_str(), (lured + "/entry.json").c_str()), 0);
    // A lock that is a link or a FIFO hangs nothing. No process can lock through the link, and
    // the FIFO opens and locks: both entries go by their records, and the link's target stays.
    const std::string lockLink =
        plant(idText(3), recordJson("prepared", startWall - 1e6, 5), false);
    ASSERT_EQ(::symlink((outside + "/precious").c_str(), (lockLink + "/owner.lock").c_str()), 0);
    const std::string lockFifo =
        plant(idText(4), recordJson("prepared", startWall - 1e6, 5), false);
    ASSERT_EQ(::mkfifo((lockFifo + "/owner.lock").c_str(), 0600), 0);
    // An entry whose mode was opened up is still ours and still swept by its record.
    const std::string widened = plant(idText(5), recordJson("prepared", startWall - 1e6, 5));
    ASSERT_EQ(::chmod(widened.c_str(), 0777), 0);

    EXPECT_EQ(cache().usage(), (CacheUsage{5, 20}));
    clock.setWall(static_cast<double>(std::time(nullptr)) + 2 * 86400);
    EXPECT_EQ(cache().sweep(), (SweepReport{.deleted = 5}));
    EXPECT_EQ(testing::namesIn(cache().entriesDirectory()), std::vector<std::string>{});
    EXPECT_EQ(readFileText(outside + "/precious"), "keep");
    EXPECT_EQ(sortedNames(outside), (std::vector<std::string>{"precious", "record.json"}));
}

TEST_F(CacheTest, ATamperedCacheLockFailsCreateAndSkipsSweep) {
    cache();
    const std::string target = temporary.join("target");
    writeFileText(target, "");
    ASSERT_EQ(::symlink(target.c_str(), (root + "/cache.lock").c_str()), 0);
    try {
        cache().create(clip, "a.mid", digest);
        ADD_FAILURE() << "created through a linked cache lock";
    } catch (const CacheFailure& failure) {
        EXPECT_EQ(failure, CacheFailure::io("cache-lock"));
    }
    EXPECT_EQ(cache().sweep(), SweepReport{.skipped = true});
    ASSERT_EQ(::unlink((root + "/cache.lock").c_str()), 0);
    ASSERT_EQ(::mkdir((root + "/cache.lock").c_str(), 0700), 0);
    EXPECT_THROW(cache().create(clip, "a.mid", digest), CacheFailure);
    EXPECT_EQ(cache().sweep(), SweepReport{.skipped = true});
    EXPECT_TRUE(testing::namesIn(cache().entriesDirectory()).empty());
}

TEST_F(CacheTest, EntriesReplacedByAFileOrLinkAreReportedNotFollowed) {
    cache();
    const std::string entries = cache().entriesDirectory();
    const std::string outside = temporary.join("outside");
    ASSERT_EQ(::mkdir(outside.c_str(), 0700), 0);
    writeFileText(outside + "/precious", "keep");
    const std::string lookalike = outside + "/" + idText(1);
    ASSERT_EQ(::mkdir(lookalike.c_str(), 0700), 0);
    writeFileText(lookalike + "/entry.json", recordJson("prepared", startWall - 1e6, 5));
    std::filesystem::remove(entries);
    ASSERT_EQ(::symlink(outside.c_str(), entries.c_str()), 0);
    // The cache object was made before the swap; it must still not reach into the target.
    EXPECT_EQ(cache().usage(), (CacheUsage{0, 0}));
    clock.advanceWall(1e7);
    EXPECT_EQ(cache().sweep(), SweepReport{});
    EXPECT_EQ(readFileText(outside + "/precious"), "keep");
    EXPECT_TRUE(std::filesystem::exists(lookalike + "/entry.json"));
}

struct IntegrityCase {
    const char* what;
    void (*tamper)(const std::string& clipPath);
};

void PrintTo(const IntegrityCase& value, std::ostream* out) {
    *out << value.what;
}

class Integrity : public CacheTest, public ::testing::WithParamInterface<IntegrityCase> {};

TEST_P(Integrity, TurnsFalseWhenTheClipFileChanges) {
    OwnedEntry entry = cache().create(clip, "a.mid", digest);
    EXPECT_TRUE(cache().isIntact(entry));
    GetParam().tamper(entry.fileURL());
    EXPECT_FALSE(cache().isIntact(entry)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Changes, Integrity,
    ::testing::Values(
        IntegrityCase{"replaced by a file of the same size",
                      [](const std::string& path) {
                          writeFileText(path + ".new", "MThd\1\1\1\1");
                          std::filesystem::rename(path + ".new", path);
                      }},
        IntegrityCase{"truncated", [](const std::string& path) { ::truncate(path.c_str(), 4); }},
        IntegrityCase{"extended",
                      [](const std::string& path) { std::filesystem::resize_file(path, 9); }},
        IntegrityCase{"a symbolic link",
                      [](const std::string& path) {
                          std::filesystem::rename(path, path + ".real");
                          std::filesystem::create_symlink(path + ".real", path);
                      }},
        IntegrityCase{"removed", [](const std::string& path) { std::filesystem::remove(path); }}));

}  // namespace
}  // namespace quenra
