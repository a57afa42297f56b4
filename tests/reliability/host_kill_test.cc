// Chrome kills a host with SIGKILL two seconds after a disconnect, whatever it is doing. Here
// real hosts are killed at random moments of a PREPARE, many times over one cache: no run may
// leave an entry that is visible but not whole, an entry still owned, or a record temporary,
// and a later sweep must clear every staging directory and every abandoned entry.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <iostream>
#include <random>
#include <thread>

#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "bridge_core/limits.h"
#include "reliability/bound_host.h"
#include "reliability/cache_audit.h"
#include "support/deterministic_random.h"
#include "support/manual_clock.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra::testing {
namespace {

namespace Requests = TestPeer::Requests;
using Clock = std::chrono::steady_clock;
using TestPeer::HostProcess;

using HostKillTest = BoundHostTest;

TEST_F(HostKillTest, KillsAtRandomPointsOfPrepareLeaveOnlyWholeUnownedEntries) {
    // Two sizes: the large clip's decode, hash and write dominate, the small one spends
    // relatively more of its time in the create's mkdir, lock and renames.
    const std::vector<std::vector<std::uint8_t>> clips = {
        TestPeer::MidiClip::generate(64 * 1024, 1), TestPeer::MidiClip::generate(2 << 20, 2)};
    std::vector<std::string> requests;
    std::vector<Clock::duration> durations;
    for (std::size_t index = 0; index < clips.size(); ++index) {
        requests.push_back(Requests::prepare(session_, "prepare", "clip-" + std::to_string(index),
                                             1, clips[index], "Killed Clip"));
        // How long this PREPARE takes from its last byte to its reply, to aim the kills at.
        HostProcess host = startBound();
        ASSERT_TRUE(host.send(requests.back()));
        const auto sent = Clock::now();
        const auto reply = host.readFrame(std::chrono::milliseconds(30000));
        ASSERT_TRUE(reply);
        ASSERT_EQ(Requests::text(Requests::parse(*reply), "type"), "PREPARED") << *reply;
        durations.push_back(Clock::now() - sent);
        host.closeInput();
        ASSERT_EQ(host.wait(), TestPeer::ExitStatus::exitedWith(0));
    }
    // The calibration hosts gave their entries up when their input closed.
    ASSERT_TRUE(CacheAudit::of(root()).complete.empty());

    const auto seed = static_cast<std::uint32_t>(std::time(nullptr));
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    int runs = 0;
    int answered = 0;
    const auto stopAt = Clock::now() + std::chrono::seconds(30);
    while (runs < 150 && Clock::now() < stopAt) {
        const std::size_t which = static_cast<std::size_t>(runs) % clips.size();
        HostProcess host = startBound();
        ASSERT_TRUE(host.send(requests[which]));
        const auto span =
            std::chrono::duration_cast<std::chrono::microseconds>(durations[which] * 13 / 10);
        std::this_thread::sleep_for(std::chrono::microseconds(
            std::uniform_int_distribution<std::int64_t>(0, span.count())(random)));
        ASSERT_EQ(::kill(host.pid(), SIGKILL), 0);
        const auto status = host.wait();
        ASSERT_TRUE(status && status->signal == SIGKILL);
        answered += host.readFrame(std::chrono::milliseconds(100)).has_value() ? 1 : 0;
        ++runs;

        const CacheAudit audit = CacheAudit::of(root());
        ASSERT_TRUE(audit.incomplete.empty() && audit.temporaries.empty() &&
                    audit.strangers.empty())
            << "after run " << runs << ": " << audit.describe();
        for (const EntryRecord& record : audit.complete) {
            EXPECT_EQ(record.state, EntryState::prepared);
            EXPECT_TRUE(ownerLockIsFree(root() + "/entries/" + record.preparedId))
                << "a dead host still owns " << record.preparedId;
        }
    }
    ASSERT_GE(runs, 10);

    CacheAudit before = CacheAudit::of(root());
    for (const EntryRecord& record : before.complete) {
        const auto clip = Files::readSmall(
            root() + "/entries/" + record.preparedId + "/" + record.fileName, 4 << 20);
        ASSERT_TRUE(clip);
        EXPECT_EQ(Hashing::sha256Hex(*clip), record.sha256) << "a whole entry holds its clip";
    }
    std::cout << "[ killed    ] " << runs << " hosts during PREPARE: " << before.complete.size()
              << " whole entries, " << before.staging.size() << " staging directories, " << answered
              << " answered PREPARED before the kill\n";

    // The real sweep leaves fresh leftovers alone: nothing here is old enough yet.
    const auto sweep = TestPeer::run(TestPeer::defaultHostPath(), {"--sweep"}, environment_, {});
    ASSERT_EQ(sweep.status, TestPeer::ExitStatus::exitedWith(0)) << sweep.error;
    EXPECT_EQ(CacheAudit::of(root()).staging.size(), before.staging.size());

    // An hour and a bit later every staging directory and every abandoned entry goes.
    ManualClock later(static_cast<double>(std::time(nullptr)) + Limits::standard().temporaryMaxAge +
                      60);
    DeterministicRandom bytes;
    Cache cache(root(), Limits::standard(), later, bytes);
    const SweepReport report = cache.sweep();
    EXPECT_EQ(report.temporariesDeleted, static_cast<std::int64_t>(before.staging.size()));
    EXPECT_EQ(report.deleted, static_cast<std::int64_t>(before.complete.size()));
    EXPECT_EQ(report.owned, 0);
    const CacheAudit after = CacheAudit::of(root());
    EXPECT_TRUE(after.complete.empty() && after.staging.empty() && after.incomplete.empty())
        << after.describe();
}

}  // namespace
}  // namespace quenra::testing
