// Writes that fail half-way: a cache on a tiny tmpfs that runs out of space (mounted here when
// we are root, skipped otherwise), a file-size limit that stops a write part-way (works for
// anyone), and a record rewrite that fails. The reply is INTERNAL (a write error is not a
// full cache: CACHE_FULL means the entry or byte limit), nothing partial stays, the host goes
// on serving, and a failed rewrite leaves the record on disk and in memory as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "bridge_core/arm_lease.h"
#include "bridge_core/files.h"
#include "reliability/cache_audit.h"
#include "support/session_harness.h"
#include "support/temporary_directory.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra::testing {
namespace {

namespace Requests = TestPeer::Requests;
using TestPeer::HostProcess;

const std::string origin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";

// Files written by this process, and by children started meanwhile, stop at bytes: the write
// that would pass it fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limited{bytes, saved_.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

// A peer of one real host with a given cache location.
class FailingHost {
  public:
    explicit FailingHost(std::vector<std::string> environment)
        : host_(HostProcess::spawn(TestPeer::defaultHostPath(), {origin}, environment)) {}

    boost::json::object exchange(const std::string& request) {
        if (!host_.send(request)) {
            throw std::runtime_error("the host stopped reading");
        }
        const auto frame = host_.readFrame(std::chrono::milliseconds(20000));
        if (!frame) {
            throw std::runtime_error("no reply in time");
        }
        return Requests::parse(*frame);
    }
    std::string nextId() { return "r" + std::to_string(++requests_); }
    HostProcess& process() { return host_; }

  private:
    HostProcess host_;
    int requests_ = 0;
};

void expectNothingPartial(const std::string& root, std::size_t wholeEntries) {
    const CacheAudit audit = CacheAudit::of(root);
    EXPECT_TRUE(audit.incomplete.empty() && audit.staging.empty() && audit.temporaries.empty() &&
                audit.strangers.empty())
        << audit.describe();
    EXPECT_EQ(audit.complete.size(), wholeEntries) << audit.describe();
}

// PREPAREs clips of growing sizes until one fails; every failure must be INTERNAL and leave
// nothing, and after each the host must still answer STATUS with the true counts. Then frees
// the space and checks that the host stores clips again.
void prepareUntilWritesFail(FailingHost& host, const std::string& root,
                            const std::vector<std::size_t>& sizes) {
    const Requests::Session session{"write-failure-session-01", 1};
    ASSERT_EQ(Requests::text(host.exchange(Requests::hello(session, host.nextId())), "type"),
              "HELLO_OK");
    std::vector<std::string> prepared;
    int failures = 0;
    for (std::size_t index = 0; index < sizes.size(); ++index) {
        const auto clip =
            TestPeer::MidiClip::generate(sizes[index], static_cast<std::uint8_t>(index));
        const auto reply = host.exchange(Requests::prepare(
            session, host.nextId(), "clip-" + std::to_string(index), 1, clip, "Big Clip"));
        const std::string type = Requests::text(reply, "type");
        if (type == "PREPARED") {
            prepared.push_back(Requests::text(reply, "preparedId"));
        } else {
            ASSERT_EQ(type, "ERROR");
            EXPECT_EQ(Requests::text(reply, "code"), "INTERNAL") << boost::json::serialize(reply);
            ++failures;
        }
        expectNothingPartial(root, prepared.size());
        const auto status = host.exchange(Requests::status(session, host.nextId()));
        ASSERT_EQ(Requests::text(status, "type"), "STATUS");
        EXPECT_EQ(status.at("preparations").as_int64(), static_cast<std::int64_t>(prepared.size()));
        EXPECT_EQ(status.at("cache").at("entries").as_int64(),
                  static_cast<std::int64_t>(prepared.size()));
    }
    EXPECT_GT(failures, 0) << "no write ever failed; the sizes do not reach the limit";

    for (const std::string& preparedId : prepared) {
        EXPECT_EQ(Requests::text(
                      host.exchange(Requests::release(session, host.nextId(), preparedId)), "type"),
                  "RELEASED");
    }
    expectNothingPartial(root, 0);
    const auto again = host.exchange(Requests::prepare(
        session, host.nextId(), "clip-again", 1, TestPeer::MidiClip::generate(4096), "Again"));
    EXPECT_EQ(Requests::text(again, "type"), "PREPARED") << boost::json::serialize(again);
    host.process().closeInput();
    EXPECT_EQ(host.process().wait(), TestPeer::ExitStatus::exitedWith(0));
    expectNothingPartial(root, 0);
    const std::string& log = host.process().standardError();
    EXPECT_NE(log.find("quenra-native-host: cache-write-failed\n"), std::string::npos) << log;
}

class TinyTmpfs {
  public:
    explicit TinyTmpfs(const std::string& path) : path_(path) {
        mounted_ = ::geteuid() == 0 && ::mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                                               "size=512k,nr_inodes=256,mode=0700") == 0;
    }
    ~TinyTmpfs() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    bool mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};

TEST(WriteFailureTest, CacheOnAFullFilesystemAnswersInternalAndKeepsServing) {
    TemporaryDirectory home;
    const std::string mountPoint = home.join("tiny");
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0700), 0);
    TinyTmpfs tmpfs(mountPoint);
    if (!tmpfs.mounted()) {
        GTEST_SKIP() << "mounting a tmpfs needs root (and a mount namespace that allows it)";
    }
    std::vector<std::string> environment = TestPeer::isolatedEnvironment(home.path());
    environment.push_back("XDG_CACHE_HOME=" + mountPoint);
    FailingHost host(environment);
    prepareUntilWritesFail(host, mountPoint + "/tech.ostrell.quenra.bridge",
                           {96 * 1024, 160 * 1024, 200 * 1024, 300 * 1024, 8 * 1024});
}

TEST(WriteFailureTest, WriteStoppedByTheFileSizeLimitAnswersInternalAndKeepsServing) {
    TemporaryDirectory home;
    const std::vector<std::string> environment = TestPeer::isolatedEnvironment(home.path());
    std::optional<FailingHost> host;
    {
        // Only the host inherits the limit; ours is back as soon as it has started.
        const FileSizeLimit limit(64 * 1024);
        host.emplace(environment);
    }
    prepareUntilWritesFail(*host, home.join(".cache/tech.ostrell.quenra.bridge"),
                           {8 * 1024, 60 * 1024, 65 * 1024, 200 * 1024, 1024});
}

TEST(WriteFailureTest, FailedRecordRewriteLeavesDiskAndMemoryAsTheyWere) {
    SessionHarness harness;
    const Clip clip = makeClip(3);
    harness.bind();
    const auto prepared = harness.prepare("clip-a", 1, clip);
    const std::string preparedId(prepared.at("preparedId").as_string());
    OwnedEntry& entry = *harness.session.preparations().at(preparedId).entry;
    const EntryRecord before = entry.record();
    const std::string onDisk = harness.recordText(preparedId);

    std::optional<FileFailure> failed;
    {
        const FileSizeLimit limit(16);
        try {
            harness.cache.update(entry, EntryState::armed, 1.0e9);
        } catch (const FileFailure& failure) {
            failed = failure;
        }
    }
    ASSERT_TRUE(failed);
    EXPECT_EQ(*failed, FileFailure("write", EFBIG));
    EXPECT_EQ(entry.record(), before);
    EXPECT_EQ(harness.recordText(preparedId), onDisk);
    expectNothingPartial(harness.cache.root(), 1);
}

// The armed record is written once ARMED is out: one the disk refuses fails the drag before any
// poll, and leaves the record, the lease and the folder as they were.
TEST(WriteFailureTest, ArmWhoseRecordRewriteFailsEndsTheDragAndArmsNothing) {
    SessionHarness harness;
    harness.bind();
    const auto prepared = harness.prepare("clip-a", 1, makeClip(4));
    const std::string preparedId(prepared.at("preparedId").as_string());
    const std::string onDisk = harness.recordText(preparedId);

    EXPECT_EQ(harness.send(harness.armRequest(prepared)).at("type").as_string(), "ARMED");
    std::vector<std::string> events;
    {
        const FileSizeLimit limit(16);
        events = harness.session.settle();
    }
    ASSERT_EQ(events.size(), 1u);
    const boost::json::value event = boost::json::parse(events[0]);
    EXPECT_EQ(event.at("type").as_string(), "DRAG_FAILED");
    EXPECT_EQ(event.at("code").as_string(), "INTERNAL");
    EXPECT_FALSE(harness.session.isWatching());
    EXPECT_EQ(harness.recordText(preparedId), onDisk);
    EXPECT_EQ(harness.session.preparations().at(preparedId).entry->record().state,
              EntryState::prepared);
    // The lease went back: another process could arm now.
    EXPECT_TRUE(ArmLease::acquire(harness.cache.armLockURL()).has_value());
    expectNothingPartial(harness.cache.root(), 1);

    // Once writes work again, the same preparation arms.
    EXPECT_EQ(harness.send(harness.armRequest(prepared)).at("type").as_string(), "ARMED");
    EXPECT_TRUE(harness.session.settle().empty());
    EXPECT_EQ(harness.session.preparations().at(preparedId).entry->record().state,
              EntryState::armed);
}

}  // namespace
}  // namespace quenra::testing
