// A creator stopped by ptrace at every system call of a create, in turn, and killed there:
// another process must then find either nothing or a whole entry, and a sweep must take what
// the kill left in staging once it is old enough. ptrace's system-call stops are Linux's, so
// these tests run only there.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "support/cache_processes.h"
#include "support/child_process.h"
#include "support/directory_listing.h"
#include "support/manual_clock.h"
#include "support/temporary_directory.h"
#include "syscall_stops.h"
#include "system_services/system_clock.h"
#include "system_services/system_random.h"

namespace quenra {
namespace {

using testing::CacheProcesses;
using testing::ChildProcess;
using testing::ManualClock;
using testing::readFileText;
using testing::resumeToNextSyscallStop;
using testing::TemporaryDirectory;

bool isEntryName(const std::string& name) {
    return name.size() == 32 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool isStagingName(const std::string& name) {
    return name.size() == 21 && name.starts_with(".tmp-") &&
           name.find_first_not_of("0123456789abcdef", 5) == std::string::npos;
}

// What a reader in another process must always find under an entry id: the whole entry.
bool isCompleteEntry(const std::string& directory, const std::string& id) {
    std::vector<std::string> names = testing::namesIn(directory);
    std::sort(names.begin(), names.end());
    if (names != std::vector<std::string>{"Song.mid", "entry.json", "owner.lock"}) {
        return false;
    }
    const auto record = EntryRecord::decode(readFileText(directory + "/entry.json"));
    return readFileText(directory + "/Song.mid") ==
               std::string(CacheProcesses::clip.begin(), CacheProcesses::clip.end()) &&
           record && record->preparedId == id && record->fileName == "Song.mid" &&
           record->byteLength == static_cast<std::int64_t>(CacheProcesses::clip.size()) &&
           record->sha256 == CacheProcesses::digest;
}

// A child that stops itself just before create, so the tracer counts only create's calls.
ChildProcess startTracedCreator(const std::string& root) {
    std::optional<Cache> cache;
    SystemClock clock;
    SystemRandom random;
    return testing::startTraced([&] { cache.emplace(root, Limits::standard(), clock, random); },
                                [&] {
                                    OwnedEntry entry = cache->create(
                                        CacheProcesses::clip, "Song.mid", CacheProcesses::digest);
                                    return 0;
                                });
}

TEST_F(CacheProcesses, ACreatorKilledAtAnySystemCallLeavesNothingOrACompleteEntry) {
    Cache observer(root, Limits::standard(), systemClock, random);

    int stops = 0;
    {
        ChildProcess counted = startTracedCreator(root);
        while (resumeToNextSyscallStop(counted)) {
            ++stops;
        }
        ASSERT_EQ(counted.wait(), 0);
        ASSERT_GT(stops, 10) << "tracing saw no system calls";
        ManualClock later = ManualClock::secondsFromNow(1e6);
        Cache(root, Limits::standard(), later, random).sweep();
        ASSERT_TRUE(testing::namesIn(observer.entriesDirectory()).empty());
    }

    int sawStaging = 0;
    int sawEntry = 0;
    for (int killAt = 1; killAt <= stops; ++killAt) {
        ChildProcess child = startTracedCreator(root);
        const bool finished = testing::killAtSyscallStop(child, killAt);

        int staging = 0;
        for (const std::string& name : testing::namesIn(observer.entriesDirectory())) {
            if (isStagingName(name)) {
                ++staging;
            } else {
                EXPECT_TRUE(isEntryName(name)) << name;
                EXPECT_TRUE(isCompleteEntry(observer.entriesDirectory() + "/" + name, name))
                    << "half an entry visible after a kill at stop " << killAt;
                ++sawEntry;
            }
        }
        sawStaging += staging;
        // A young staging directory is left alone; once old enough a sweep takes it.
        const SweepReport now = observer.sweep();
        EXPECT_EQ(now.temporariesDeleted, 0);
        EXPECT_EQ(now.owned, 0) << "a dead process still owns its entry";
        ManualClock later = ManualClock::secondsFromNow(Limits::standard().temporaryMaxAge + 2);
        Cache sweeper(root, Limits::standard(), later, random);
        EXPECT_EQ(sweeper.sweep().temporariesDeleted, staging) << "kill at stop " << killAt;
        EXPECT_TRUE(testing::namesIn(observer.entriesDirectory()).empty());
        if (finished) {
            break;
        }
    }
    // The kills really landed both inside staging and after publication.
    EXPECT_GT(sawStaging, 0);
    EXPECT_GT(sawEntry, 0);
}

// A host that stages several records and commits them as one batch, killed at each system
// call in turn: every record another process reads is whole, the old one or the new one, and
// what the kill left (temporaries beside the records) goes with the entries in a later sweep.
TEST_F(CacheProcesses, ARecordBatchKilledAtAnySystemCallLeavesEveryRecordWhole) {
    constexpr int entries = 3;
    const auto startBatch = [&] {
        std::optional<Cache> cache;
        std::vector<OwnedEntry> owned;
        SystemClock clock;
        SystemRandom random;
        return testing::startTraced(
            [&] {
                cache.emplace(root, Limits::standard(), clock, random);
                for (int index = 0; index < entries; ++index) {
                    owned.push_back(
                        cache->create(CacheProcesses::clip, "Song.mid", CacheProcesses::digest));
                }
            },
            [&] {
                RecordBatch batch;
                for (OwnedEntry& entry : owned) {
                    cache->stage(batch, entry, EntryState::armed, clock.wallNow() + 60);
                }
                cache->commit(batch);
                return 0;
            });
    };
    Cache observer(root, Limits::standard(), systemClock, random);
    const auto sweepAll = [&] {
        ManualClock later = ManualClock::secondsFromNow(1e6);
        Cache(root, Limits::standard(), later, random).sweep();
        ASSERT_TRUE(testing::namesIn(observer.entriesDirectory()).empty());
    };

    int stops = 0;
    {
        ChildProcess counted = startBatch();
        while (resumeToNextSyscallStop(counted)) {
            ++stops;
        }
        ASSERT_EQ(counted.wait(), 0);
        ASSERT_GT(stops, 4 * entries) << "tracing saw too few system calls";
        sweepAll();
    }

    int sawArmed = 0;
    int sawPrepared = 0;
    for (int killAt = 1; killAt <= stops; ++killAt) {
        SCOPED_TRACE("kill at stop " + std::to_string(killAt));
        ChildProcess child = startBatch();
        const bool finished = testing::killAtSyscallStop(child, killAt);
        const std::vector<std::string> names = testing::namesIn(observer.entriesDirectory());
        EXPECT_EQ(names.size(), static_cast<std::size_t>(entries));
        for (const std::string& name : names) {
            const std::string directory = observer.entriesDirectory() + "/" + name;
            for (const std::string& item : testing::namesIn(directory)) {
                EXPECT_TRUE(item == "Song.mid" || item == "entry.json" || item == "owner.lock" ||
                            (item.starts_with(".entry.json.") && item.size() == 28))
                    << item;
            }
            const auto record = EntryRecord::decode(readFileText(directory + "/entry.json"));
            ASSERT_TRUE(record) << "a record read half written";
            EXPECT_EQ(record->preparedId, name);
            EXPECT_EQ(record->byteLength, static_cast<std::int64_t>(CacheProcesses::clip.size()));
            if (record->state == EntryState::armed) {
                ++sawArmed;
            } else {
                EXPECT_EQ(record->state, EntryState::prepared);
                EXPECT_FALSE(finished) << "a finished commit lost a record";
                ++sawPrepared;
            }
        }
        EXPECT_EQ(observer.sweep().owned, 0) << "a dead process still owns its entries";
        sweepAll();
        if (finished) {
            break;
        }
    }
    EXPECT_GT(sawArmed, 0);
    EXPECT_GT(sawPrepared, 0);
}

}  // namespace
}  // namespace quenra
