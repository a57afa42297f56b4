// The cache shared by real processes: forked creators and sweepers against one folder and real
// flock contention. Creators killed at every system call of a create are in
// linux/cache_kill_test.cc.
#include "support/cache_processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/limits.h"
#include "support/cache_printers.h"
#include "support/child_process.h"
#include "support/directory_listing.h"
#include "support/manual_clock.h"
#include "support/temporary_directory.h"
#include "system_services/system_clock.h"
#include "system_services/system_random.h"

namespace quenra {
namespace {

using testing::CacheProcesses;
using testing::ChildProcess;
using testing::ManualClock;
using testing::ProcessSignal;
using testing::readFileText;
using testing::TemporaryDirectory;
using testing::writeFileText;

// Another process that takes the cache lock of root, says so through locked, and keeps it
// until whileHolding returns.
ChildProcess holdCacheLock(const std::string& root, ProcessSignal& locked,
                           const std::function<void()>& whileHolding) {
    return ChildProcess::start([&] {
        const Descriptor lock = Files::openLockFile(root + "/cache.lock", true);
        if (!lock.isOpen() || !Files::tryLockExclusive(lock)) {
            return 1;
        }
        locked.notify();
        whileHolding();
        return 0;
    });
}

// Boost.JSON 1.81 may read a 17-digit time back one unit in the last place off.
bool sameRecord(const std::optional<EntryRecord>& read, const EntryRecord& written) {
    if (!read) {
        return false;
    }
    EntryRecord adjusted = *read;
    const auto near = [](double a, double b) { return a - b < 1e-6 && b - a < 1e-6; };
    if (near(adjusted.createdAt, written.createdAt) &&
        near(adjusted.touchedAt, written.touchedAt) &&
        adjusted.retainUntil.has_value() == written.retainUntil.has_value() &&
        (!written.retainUntil || near(*adjusted.retainUntil, *written.retainUntil))) {
        adjusted.createdAt = written.createdAt;
        adjusted.touchedAt = written.touchedAt;
        adjusted.retainUntil = written.retainUntil;
    }
    return adjusted == written;
}

TEST_F(CacheProcesses, WithRoomForKExactlyKOfNConcurrentCreatorsSucceed) {
    Limits limits = Limits::standard();
    limits.cacheMaxEntries = 3;
    constexpr int creators = 8;
    Cache parent(root, limits, systemClock, random);

    ProcessSignal go;
    ProcessSignal attempted;
    ProcessSignal hold;
    std::vector<ChildProcess> children;
    for (int index = 0; index < creators; ++index) {
        children.push_back(ChildProcess::start([&] {
            Cache cache(root, limits, systemClock, random);
            go.wait();
            int status = 2;
            std::optional<OwnedEntry> entry;
            try {
                entry.emplace(cache.create(clip, "Song.mid", digest));
                status = 0;
            } catch (const CacheFailure& failure) {
                status = failure.kind() == CacheFailure::Kind::full ? 1 : 2;
            }
            attempted.notify();
            hold.wait();  // keeps a successful entry owned while the parent looks
            return status;
        }));
    }
    for (int index = 0; index < creators; ++index) {
        go.notify();
    }
    for (int index = 0; index < creators; ++index) {
        ASSERT_TRUE(attempted.wait());
    }
    EXPECT_EQ(parent.usage(), (CacheUsage{3, 3 * static_cast<std::int64_t>(clip.size())}));
    EXPECT_EQ(parent.sweep(), (SweepReport{.owned = 3}));
    for (int index = 0; index < creators; ++index) {
        hold.notify();
    }
    int succeeded = 0;
    int full = 0;
    for (ChildProcess& child : children) {
        const int status = child.wait();
        succeeded += status == 0;
        full += status == 1;
    }
    EXPECT_EQ(succeeded, 3);
    EXPECT_EQ(full, creators - 3);
}

TEST_F(CacheProcesses, AHeldCacheLockSkipsSweepsAndBoundsTheCreateWait) {
    ManualClock clock = ManualClock::secondsFromNow(0);
    clock.setMonotonicStep(0.25);  // the 2 s wait runs out after eight polls
    Cache cache(root, Limits::standard(), clock, random);

    ProcessSignal locked;
    ProcessSignal release;
    ChildProcess holder = holdCacheLock(root, locked, [&] { release.wait(); });
    ASSERT_TRUE(locked.wait());

    EXPECT_EQ(cache.sweep(), SweepReport{.skipped = true});
    const double before = clock.monotonicNow();
    try {
        cache.create(clip, "Song.mid", digest);
        ADD_FAILURE() << "created while another process held the cache lock";
    } catch (const CacheFailure& failure) {
        EXPECT_EQ(failure, CacheFailure::io("cache-busy"));
    }
    EXPECT_GE(clock.monotonicNow() - before, Limits::standard().cacheLockWait);
    EXPECT_TRUE(testing::namesIn(cache.entriesDirectory()).empty());

    release.notify();
    EXPECT_EQ(holder.wait(), 0);
    EXPECT_EQ(cache.sweep(), SweepReport{});
    OwnedEntry entry = cache.create(clip, "Song.mid", digest);
    EXPECT_TRUE(cache.isIntact(entry));
}

TEST_F(CacheProcesses, ACreateWaitsForABrieflyHeldLock) {
    Cache cache(root, Limits::standard(), systemClock, random);
    ProcessSignal locked;
    ChildProcess holder = holdCacheLock(root, locked, [] { ::usleep(60000); });
    ASSERT_TRUE(locked.wait());
    OwnedEntry entry = cache.create(clip, "Song.mid", digest);
    EXPECT_TRUE(cache.isIntact(entry));
    EXPECT_EQ(holder.wait(), 0);
}

// The handler of UndefinedBehaviorSanitizer's vptr check, linked in when the program checks
// dynamic types. The check finds out whether an object's memory can be read by writing it into a
// pipe of its own; with no descriptor free that pipe cannot be made, and it reports the
// FileFailure being thrown as an object with an invalid vptr.
extern "C" [[gnu::weak]] void __ubsan_handle_dynamic_type_cache_miss_abort();
extern "C" [[gnu::weak]] void __ubsan_handle_dynamic_type_cache_miss();

bool checksDynamicTypes() {
    return __ubsan_handle_dynamic_type_cache_miss_abort != nullptr ||
           __ubsan_handle_dynamic_type_cache_miss != nullptr;
}

// Lowers the soft descriptor limit so that exactly count more descriptors can be open at once.
bool leaveFreeDescriptors(int count) {
    int limit = 0;
    for (int free = 0;; ++limit) {
        if (::fcntl(limit, F_GETFD) < 0 && free++ == count) {
            break;
        }
    }
    struct rlimit current {};
    if (::getrlimit(RLIMIT_NOFILE, &current) != 0) {
        return false;
    }
    current.rlim_cur = static_cast<rlim_t>(limit);
    return ::setrlimit(RLIMIT_NOFILE, &current) == 0;
}

// A host near its descriptor limit: each owned entry holds one, and another thread of the
// process takes the last free ones now and then. A sweep that cannot open an entry's lock or
// record must leave the entry, however long expired its record says it is.
TEST_F(CacheProcesses, ASweepOutOfDescriptorsLeavesWhatItCannotJudge) {
    if (checksDynamicTypes()) {
        GTEST_SKIP() << "UndefinedBehaviorSanitizer's vptr check needs descriptors of its own";
    }
    ChildProcess child = ChildProcess::start([&] {
        ManualClock clock = ManualClock::secondsFromNow(0);
        Cache cache(root, Limits::standard(), clock, random);
        std::vector<OwnedEntry> owned;
        for (int index = 0; index < 16; ++index) {
            owned.push_back(cache.create(clip, "Song.mid", digest));
        }
        // Relinquished, but its record keeps it long after its folder's status change.
        OwnedEntry retained = cache.create(clip, "Kept.mid", digest);
        cache.update(retained, EntryState::published, clock.wallNow() + 2e7);
        cache.relinquish(retained);
        clock.advanceWall(1e7);
        // The cache lock, the entries folder and one more: the retained entry's lock is taken,
        // and then nothing is left to open its record with.
        if (!leaveFreeDescriptors(3)) {
            return 2;
        }
        const SweepReport alone = cache.sweep();
        if (alone != SweepReport{.kept = 1, .owned = 16}) {
            std::fprintf(stderr, "sweep: deleted %lld kept %lld owned %lld\n",
                         static_cast<long long>(alone.deleted), static_cast<long long>(alone.kept),
                         static_cast<long long>(alone.owned));
            return 10;
        }
        std::atomic<bool> running{true};
        std::thread other([&] {
            while (running) {
                const Descriptor taken(::open("/dev/null", O_RDONLY | O_CLOEXEC));
                std::this_thread::yield();
            }
        });
        std::int64_t deleted = 0;
        for (int round = 0; round < 2000 && deleted == 0; ++round) {
            deleted += cache.sweep().deleted;
        }
        running = false;
        other.join();
        if (deleted != 0) {
            return 20;
        }
        for (const OwnedEntry& entry : owned) {
            if (!cache.isIntact(entry)) {
                return 30;
            }
        }
        return std::filesystem::exists(retained.directory()) ? 0 : 40;
    });
    EXPECT_EQ(child.wait(), 0);
}

// Creators check their own entries while sweepers whose clocks say everything unowned is long
// expired run beside them. An owned entry must never be touched, and every relinquished entry
// must be removed.
TEST_F(CacheProcesses, ConcurrentSweepsNeverTouchOwnedEntriesAndRemoveEachOtherEntryOnce) {
    const std::string stopFile = temporary.join("stop");
    constexpr int creators = 3;
    constexpr int sweepers = 2;
    constexpr int rounds = 25;
    Cache parent(root, Limits::standard(), systemClock, random);

    std::vector<ChildProcess> creatorProcesses;
    for (int index = 0; index < creators; ++index) {
        creatorProcesses.push_back(ChildProcess::start([&, index] {
            Cache cache(root, Limits::standard(), systemClock, random);
            int relinquished = 0;
            for (int round = 0; round < rounds; ++round) {
                OwnedEntry entry = cache.create(clip, "Song.mid", digest);
                for (int check = 0; check < 3; ++check) {
                    ::usleep(300);
                    const auto onDisk =
                        EntryRecord::decode(readFileText(entry.directory() + "/entry.json"));
                    if (!cache.isIntact(entry)) {
                        return 10 + check;
                    }
                    if (!sameRecord(onDisk, entry.record())) {
                        return 20 + check;
                    }
                    cache.update(entry, EntryState::armed, systemClock.wallNow() + 10);
                }
                if (round % 2 == 0) {
                    cache.deleteEntry(entry);
                } else {
                    cache.relinquish(entry);
                    ++relinquished;
                }
            }
            writeFileText(temporary.join("relinquished-" + std::to_string(index)),
                          std::to_string(relinquished));
            return 0;
        }));
    }
    std::vector<ChildProcess> sweeperProcesses;
    for (int index = 0; index < sweepers; ++index) {
        sweeperProcesses.push_back(ChildProcess::start([&, index] {
            ManualClock future = ManualClock::secondsFromNow(1e7);
            Cache cache(root, Limits::standard(), future, random);
            std::int64_t deleted = 0;
            while (!std::filesystem::exists(stopFile)) {
                const SweepReport report = cache.sweep();
                if (report.temporariesDeleted != 0) {
                    return 30;  // a staging directory of a live create was taken
                }
                deleted += report.deleted;
                ::usleep(200);
            }
            writeFileText(temporary.join("deleted-" + std::to_string(index)),
                          std::to_string(deleted));
            return 0;
        }));
    }
    for (ChildProcess& child : creatorProcesses) {
        EXPECT_EQ(child.wait(), 0);
    }
    writeFileText(stopFile, "");
    for (ChildProcess& child : sweeperProcesses) {
        EXPECT_EQ(child.wait(), 0);
    }

    ManualClock future = ManualClock::secondsFromNow(1e7);
    Cache finalSweeper(root, Limits::standard(), future, random);
    const SweepReport last = finalSweeper.sweep();
    std::int64_t relinquished = 0;
    std::int64_t deleted = last.deleted;
    for (int index = 0; index < creators; ++index) {
        relinquished +=
            std::stoll(readFileText(temporary.join("relinquished-" + std::to_string(index))));
    }
    for (int index = 0; index < sweepers; ++index) {
        deleted += std::stoll(readFileText(temporary.join("deleted-" + std::to_string(index))));
    }
    EXPECT_EQ(relinquished, creators * (rounds / 2));
    // A sweep may also finish off an entry its owner is deleting (the owner lock goes with the
    // files), so owner deletes can add to the count; nothing else can.
    EXPECT_GE(deleted, relinquished);
    EXPECT_LE(deleted, relinquished + creators * (rounds - rounds / 2));
    EXPECT_EQ(last.owned, 0);
    EXPECT_TRUE(testing::namesIn(parent.entriesDirectory()).empty());
}

}  // namespace
}  // namespace quenra
