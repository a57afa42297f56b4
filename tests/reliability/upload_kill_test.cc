// A real host killed at every system call of its main thread, in turn, from the UPLOAD of an
// audio clip to the PREPARED of its last chunk: the main thread writes every file of the cache,
// so these are all the states a kill can leave on disk. After each kill no entry may be half
// there or still owned, a later host must serve nothing of the dead one's upload, and a sweep
// an hour on must take all that is left. ptrace's system-call stops are Linux's.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>

#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "bridge_core/limits.h"
#include "reliability/bound_host.h"
#include "reliability/cache_audit.h"
#include "support/audio_samples.h"
#include "support/deterministic_random.h"
#include "support/directory_listing.h"
#include "support/manual_clock.h"
#include "system_services/system_clock.h"
#include "test_peer/host_process.h"
#include "test_peer/requests.h"

namespace quenra::testing {
namespace {

namespace Requests = TestPeer::Requests;
using TestPeer::ExitStatus;
using TestPeer::HostProcess;
using TestPeer::milliseconds;

// One thread of a running child, seized by ptrace and stopped at each of its system calls in
// turn; the child's other threads run on untraced. The child is left for its owner to reap.
class ThreadStops {
  public:
    explicit ThreadStops(pid_t thread) : thread_(thread) {
        if (::ptrace(PTRACE_SEIZE, thread, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL) !=
                0 ||
            ::ptrace(PTRACE_INTERRUPT, thread, nullptr, nullptr) != 0) {
            throw std::runtime_error("ptrace could not seize the host");
        }
        int status = 0;
        if (::waitpid(thread, &status, __WALL) != thread || !WIFSTOPPED(status)) {
            throw std::runtime_error("the seized host did not stop");
        }
    }

    // Resumes the thread until its next system-call stop; false when the child ended instead.
    bool next() {
        int signal = 0;
        for (;;) {
            if (::ptrace(PTRACE_SYSCALL, thread_, nullptr, signal) != 0) {
                return false;
            }
            // Looked at first without reaping, so that an ending stays the owner's to collect.
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(thread_), &info,
                         WEXITED | WSTOPPED | __WALL | WNOWAIT) != 0 ||
                info.si_code != CLD_TRAPPED) {
                return false;
            }
            int status = 0;
            ::waitpid(thread_, &status, __WALL);
            if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
                return true;
            }
            // An event stop (the seizing interrupt, a group stop) passes no signal on; a signal
            // stop passes its signal.
            signal = status >> 16 == PTRACE_EVENT_STOP ? 0 : WSTOPSIG(status);
        }
    }

    // Lets the thread run on untraced; it must be in a stop.
    void detach() { ::ptrace(PTRACE_DETACH, thread_, nullptr, nullptr); }

  private:
    pid_t thread_;
};

// What one traced upload came to.
struct Upload {
    int stops = 0;          // system-call stops seen, the last one the kill's
    bool prepared = false;  // PREPARED came back before the kill point
    std::string uploadId;   // once UPLOADING named it
    std::int64_t received = 0;
};

class UploadKillTest : public BoundHostTest {
  protected:
    // UPLOAD and its chunks to a host stopped at each system call of its main thread, each
    // chunk sent once UPLOADING says the one before it arrived; the host is killed at stop
    // killAt (never, at 0) or let go once PREPARED is read.
    Upload upload(int killAt) {
        HostProcess host = startBound();
        ThreadStops stops(host.pid());
        Upload run;
        EXPECT_TRUE(host.send(
            Requests::upload(session_, "upload", "loop", 1, Hashing::sha256Hex(clip_),
                             static_cast<std::int64_t>(clip_.size()), "Killed Loop", "wav")));
        while (!run.prepared) {
            if (!stops.next()) {
                ADD_FAILURE() << "the host ended by itself at stop " << run.stops << ": "
                              << host.standardError();
                return run;
            }
            if (++run.stops == killAt) {
                EXPECT_EQ(::kill(host.pid(), SIGKILL), 0);
                const auto status = host.wait();
                EXPECT_TRUE(status && status->signal == SIGKILL);
                return run;
            }
            while (const auto frame = host.readFrame(milliseconds(0))) {
                const boost::json::object reply = Requests::parse(*frame);
                const std::string type = Requests::text(reply, "type");
                run.prepared = type == "PREPARED";
                if (run.prepared) {
                    EXPECT_EQ(Requests::text(reply, "sha256"), Hashing::sha256Hex(clip_));
                    break;
                }
                EXPECT_EQ(type, "UPLOADING") << *frame;
                if (type != "UPLOADING") {
                    return run;
                }
                run.uploadId = Requests::text(reply, "uploadId");
                run.received = reply.at("received").as_int64();
                const std::size_t from = static_cast<std::size_t>(run.received);
                const std::size_t count = std::min(chunkBytes, clip_.size() - from);
                EXPECT_TRUE(host.send(
                    Requests::uploadChunk(session_, "chunk-" + std::to_string(from), run.uploadId,
                                          run.received, std::span(clip_).subspan(from, count))));
            }
        }
        stops.detach();
        host.closeInput();
        EXPECT_EQ(host.wait(), ExitStatus::exitedWith(0));
        return run;
    }

    // A host started after the kill knows nothing of the dead one's upload or entries.
    void expectALaterHostServesNothingOf(const Upload& run, const CacheAudit& audit) {
        HostProcess later = startBound();
        const auto codeOf = [&](const std::string& request) {
            EXPECT_TRUE(later.send(request));
            const auto reply = later.readFrame();
            return reply ? Requests::text(Requests::parse(*reply), "code") : "no reply";
        };
        if (!run.uploadId.empty()) {
            const std::size_t from = static_cast<std::size_t>(run.received);
            EXPECT_EQ(
                codeOf(Requests::uploadChunk(
                    session_, "chunk-again", run.uploadId, run.received,
                    std::span(clip_).subspan(from, std::min(chunkBytes, clip_.size() - from)))),
                "UNKNOWN_PREPARED");
        }
        for (const EntryRecord& record : audit.complete) {
            EXPECT_EQ(codeOf(Requests::arm(session_, "arm-" + record.preparedId, record.preparedId,
                                           "loop", 1, record.sha256)),
                      "UNKNOWN_PREPARED");
        }
        later.closeInput();
        EXPECT_EQ(later.wait(), ExitStatus::exitedWith(0));
    }

    // Three chunks of a small WAV: the kills land in the first, between two, and in the last.
    static constexpr std::size_t chunkBytes = 4096;
    const ByteBuffer clip_ = AudioSamples::wavFile({}, 3000);

    SystemClock systemClock_;
};

TEST_F(UploadKillTest, AHostKilledAtAnySystemCallOfAnUploadLeavesOnlyWhatASweepTakes) {
    ASSERT_GT(clip_.size(), 2 * chunkBytes);
    const Upload counted = upload(0);
    ASSERT_TRUE(counted.prepared);
    ASSERT_GT(counted.stops, 20) << "tracing saw too few system calls";
    // What a later sweep an hour on does to what is left (and, for the counted run, the entry
    // its host let go of at the end of its input).
    DeterministicRandom random;
    const auto sweepAnHourOn = [&] {
        ManualClock later = ManualClock::secondsFromNow(Limits::standard().temporaryMaxAge + 60);
        return Cache(root(), Limits::standard(), later, random).sweep();
    };
    sweepAnHourOn();
    ASSERT_TRUE(namesIn(root() + "/entries").empty());
    const std::vector<std::string> rootNames = namesIn(root());

    int sawNothing = 0;
    int sawStaging = 0;
    int sawEntry = 0;
    bool finished = false;
    // The number of calls varies from run to run (how often the main thread waits for the
    // reader to hand a request over, say, which a loaded machine changes), so a run may finish
    // before its stop while a later, longer one is still killed after its entry was stored:
    // the kills go on until runs have finished ten times in a row.
    int finishedInARow = 0;
    for (int killAt = 1; finishedInARow < 10 && killAt <= 2 * counted.stops; ++killAt) {
        SCOPED_TRACE("kill at stop " + std::to_string(killAt));
        const Upload run = upload(killAt);
        finishedInARow = run.prepared ? finishedInARow + 1 : 0;
        if (run.prepared) {
            // What the finished host let go of goes before the next kill is judged.
            finished = true;
            sweepAnHourOn();
            ASSERT_TRUE(namesIn(root() + "/entries").empty());
            continue;
        }
        const CacheAudit audit = CacheAudit::of(root());
        ASSERT_TRUE(audit.incomplete.empty() && audit.temporaries.empty() &&
                    audit.strangers.empty())
            << audit.describe();
        for (const EntryRecord& record : audit.complete) {
            const std::string directory = root() + "/entries/" + record.preparedId;
            EXPECT_EQ(record.state, EntryState::prepared);
            EXPECT_EQ(record.format, "wav");
            EXPECT_EQ(Files::readSmall(directory + "/" + record.fileName, 1 << 20), clip_);
            EXPECT_TRUE(ownerLockIsFree(directory)) << "a dead host still owns its entry";
        }
        EXPECT_EQ(namesIn(root()), rootNames) << "something beside the entries folder";
        expectALaterHostServesNothingOf(run, audit);

        // The sweep leaves a young staging folder alone, and takes everything an hour on.
        const SweepReport now = Cache(root(), Limits::standard(), systemClock_, random).sweep();
        EXPECT_EQ(now.temporariesDeleted, 0);
        EXPECT_EQ(now.owned, 0);
        const SweepReport later = sweepAnHourOn();
        EXPECT_EQ(later.temporariesDeleted, static_cast<std::int64_t>(audit.staging.size()));
        EXPECT_EQ(later.deleted, static_cast<std::int64_t>(audit.complete.size()));
        EXPECT_TRUE(namesIn(root() + "/entries").empty());

        sawNothing += audit.staging.empty() && audit.complete.empty() ? 1 : 0;
        sawStaging += audit.staging.empty() ? 0 : 1;
        sawEntry += audit.complete.empty() ? 0 : 1;
    }
    EXPECT_TRUE(finished) << "no run got as far as PREPARED";
    // The kills landed before the staging folder, inside it, and after the entry was stored.
    EXPECT_GT(sawNothing, 0);
    EXPECT_GT(sawStaging, 0);
    EXPECT_GT(sawEntry, 0);
    std::cout << "[ killed    ] " << counted.stops << " stops of an upload: " << sawNothing
              << " kills left nothing, " << sawStaging << " a staging folder, " << sawEntry
              << " an unowned prepared entry\n";
}

}  // namespace
}  // namespace quenra::testing
