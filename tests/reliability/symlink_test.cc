// Symbolic links planted wherever the host creates or reads something, each pointing at a
// victim outside the cache: the link is refused or removed as a link, and the victim is never
// written, removed, counted or handed to a drop target. And no suggested name, however hostile,
// puts a file anywhere but inside its own entry directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/serialize.hpp>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "bridge_core/arm_lease.h"
#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/limits.h"
#include "reliability/cache_audit.h"
#include "support/deterministic_random.h"
#include "support/manual_clock.h"
#include "support/session_harness.h"
#include "support/temporary_directory.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra::testing {
namespace {

namespace Requests = TestPeer::Requests;
using TestPeer::ExitStatus;
using TestPeer::HostProcess;

const std::string origin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";
const std::string victimText = "the victim's own bytes\n";

// Every regular file below a directory with its contents, links shown as their destination.
std::map<std::string, std::string> snapshot(const std::string& directory) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(directory, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::string path = it->path().string();
        if (it->is_symlink()) {
            files[path] = "-> " + std::filesystem::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            files[path] = readFileText(path);
        } else {
            files[path] = "(directory)";
        }
    }
    return files;
}

class SymlinkTest : public ::testing::Test {
  protected:
    std::string root() const { return home_.join(".cache/tech.ostrell.quenra.bridge"); }
    void plant(const std::string& target, const std::string& link) {
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
    }
    void makeRoot() {
        ASSERT_EQ(::mkdir(home_.join(".cache").c_str(), 0700), 0);
        ASSERT_EQ(::mkdir(root().c_str(), 0700), 0);
        ASSERT_EQ(::mkdir((root() + "/entries").c_str(), 0700), 0);
    }
    HostProcess startHost() {
        return HostProcess::spawn(TestPeer::defaultHostPath(), {origin}, environment_);
    }
    boost::json::object exchange(HostProcess& host, const std::string& request) {
        host.send(request);
        const auto frame = host.readFrame();
        if (!frame) {
            throw std::runtime_error("no reply");
        }
        return Requests::parse(*frame);
    }
    void expectVictimUntouched() {
        EXPECT_EQ(snapshot(victim_.path()), victimBefore_) << "something reached the victim";
    }

    TemporaryDirectory home_;
    TemporaryDirectory victim_;
    std::map<std::string, std::string> victimBefore_ = [this] {
        ::mkdir(victim_.join("folder").c_str(), 0700);
        writeFileText(victim_.join("file"), victimText);
        writeFileText(victim_.join("folder/inside"), victimText);
        return snapshot(victim_.path());
    }();
    std::vector<std::string> environment_ = TestPeer::isolatedEnvironment(home_.path());
    Requests::Session session_{"symlink-test-session-01", 1};
};

// The cache root or its entries folder as a link: the host refuses to start on it.
TEST_F(SymlinkTest, LinkedCacheFoldersEndTheHostBeforeItReads) {
    for (const bool linkRoot : {true, false}) {
        SCOPED_TRACE(linkRoot ? "root" : "entries");
        std::filesystem::remove_all(home_.join(".cache"));
        ASSERT_EQ(::mkdir(home_.join(".cache").c_str(), 0700), 0);
        if (linkRoot) {
            plant(victim_.join("folder"), root());
        } else {
            ASSERT_EQ(::mkdir(root().c_str(), 0700), 0);
            plant(victim_.join("folder"), root() + "/entries");
        }
        const auto hello = FrameEncoder::frame(Requests::hello(session_, "hello"));
        for (const std::string& argument : {origin, std::string("--sweep")}) {
            const auto done = TestPeer::run(
                TestPeer::defaultHostPath(), {argument}, environment_,
                std::string_view(reinterpret_cast<const char*>(hello.data()), hello.size()));
            EXPECT_EQ(done.status, ExitStatus::exitedWith(1)) << argument << done.error;
            EXPECT_EQ(done.output, "") << argument;
            EXPECT_NE(done.error.find("quenra-native-host: cache-unavailable\n"), std::string::npos)
                << done.error;
        }
        expectVictimUntouched();
    }
}

// The drag board's folder as a link: the host ends before it reads. Its lock file as a link:
// no writer of the board (here the simulator) locks or writes through it.
TEST_F(SymlinkTest, LinkedDragBoardIsRefused) {
    const std::string board = home_.join("run/tech.ostrell.quenra.dragboard");
    plant(victim_.join("folder"), board);
    const auto hello = FrameEncoder::frame(Requests::hello(session_, "hello"));
    const auto done =
        TestPeer::run(TestPeer::defaultHostPath(), {origin}, environment_,
                      std::string_view(reinterpret_cast<const char*>(hello.data()), hello.size()));
    EXPECT_EQ(done.status, ExitStatus::exitedWith(1)) << done.error;
    EXPECT_EQ(done.output, "");
    EXPECT_NE(done.error.find("quenra-native-host: drag-board-unavailable\n"), std::string::npos)
        << done.error;
    expectVictimUntouched();

    ASSERT_EQ(::unlink(board.c_str()), 0);
    ASSERT_EQ(::mkdir(board.c_str(), 0700), 0);
    plant(victim_.join("file"), board + "/board.lock");
    const auto drag =
        TestPeer::run(TestPeer::defaultDragSimPath(), {"begin", "marker"}, environment_);
    EXPECT_NE(drag.status, ExitStatus::exitedWith(0)) << "wrote through a linked lock";
    expectVictimUntouched();
}

// The two lock files as links: creates and arms fail as INTERNAL, sweeps skip, and the host
// goes on answering; nothing is created through the link.
TEST_F(SymlinkTest, LinkedLockFilesAreNeverOpenedThroughTheLink) {
    makeRoot();
    plant(victim_.join("file"), root() + "/cache.lock");
    plant(victim_.join("file"), root() + "/arm.lock");
    HostProcess host = startHost();
    ASSERT_EQ(Requests::text(exchange(host, Requests::hello(session_, "hello")), "type"),
              "HELLO_OK");
    const auto clip = TestPeer::MidiClip::generate(600);
    const auto refused =
        exchange(host, Requests::prepare(session_, "prepare", "clip-a", 1, clip, "Clip"));
    EXPECT_EQ(Requests::text(refused, "code"), "INTERNAL") << boost::json::serialize(refused);
    EXPECT_EQ(Requests::text(exchange(host, Requests::status(session_, "status")), "type"),
              "STATUS");

    // With the cache lock a real file again, the entry is made; its ARM meets the linked
    // arm lock.
    ASSERT_EQ(::unlink((root() + "/cache.lock").c_str()), 0);
    const auto prepared =
        exchange(host, Requests::prepare(session_, "prepare-2", "clip-a", 2, clip, "Clip"));
    ASSERT_EQ(Requests::text(prepared, "type"), "PREPARED") << boost::json::serialize(prepared);
    const auto armed =
        exchange(host, Requests::arm(session_, "arm", Requests::text(prepared, "preparedId"),
                                     "clip-a", 2, Requests::text(prepared, "sha256")));
    EXPECT_EQ(Requests::text(armed, "code"), "INTERNAL") << boost::json::serialize(armed);
    host.closeInput();
    EXPECT_EQ(host.wait(), ExitStatus::exitedWith(0));
    EXPECT_NE(host.standardError().find("lease-unavailable"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(root() + "/arm.lock"));
    expectVictimUntouched();

    // The host made a real cache lock again; a link put back in its place stops sweeps.
    ASSERT_EQ(::unlink((root() + "/cache.lock").c_str()), 0);
    plant(victim_.join("file"), root() + "/cache.lock");
    ManualClock clock;
    DeterministicRandom random;
    Cache cache(root(), Limits::standard(), clock, random);
    EXPECT_TRUE(cache.sweep().skipped);
    expectVictimUntouched();
}

// Links with entry-like and staging-like names in entries/, and links inside an abandoned
// entry in place of its record and clip: long after every expiry, a sweep removes the links it
// owns and never what they point at; usage never counts the victim. A link in place of an
// entry's owner lock is a lock no host can hold: that entry is judged by its record (it has
// none) and goes too, link and all, its target untouched.
TEST_F(SymlinkTest, SweepAndUsageNeverFollowPlantedLinks) {
    makeRoot();
    const std::string entries = root() + "/entries";
    const std::string expiredRecord =
        R"({"byteLength":99999,"createdAt":1,"fileName":"x.mid","preparedId":")" +
        std::string(32, 'b') + R"(","sha256":"","state":"prepared","touchedAt":1,"version":1})";
    writeFileText(victim_.join("folder/entry.json"), expiredRecord);
    victimBefore_ = snapshot(victim_.path());

    plant(victim_.join("folder"), entries + "/" + std::string(32, 'a'));
    plant(victim_.join("folder"), entries + "/.tmp-0123456789abcdef");
    const std::string abandoned = entries + "/" + std::string(32, 'c');
    ASSERT_EQ(::mkdir(abandoned.c_str(), 0700), 0);
    plant(victim_.join("folder/entry.json"), abandoned + "/entry.json");
    plant(victim_.join("file"), abandoned + "/x.mid");
    const std::string lockLinked = entries + "/" + std::string(32, 'd');
    ASSERT_EQ(::mkdir(lockLinked.c_str(), 0700), 0);
    plant(victim_.join("file"), lockLinked + "/owner.lock");

    ManualClock clock(static_cast<double>(std::time(nullptr)) + 10 * 86400.0);
    DeterministicRandom random;
    Cache cache(root(), Limits::standard(), clock, random);
    EXPECT_EQ(cache.usage(), (CacheUsage{2, 0})) << "only the real directories count, 0 bytes";
    const SweepReport report = cache.sweep();
    EXPECT_EQ(report.temporariesDeleted, 0);
    EXPECT_EQ(report.deleted, 2) << "the abandoned directory and the entry whose lock is a link";
    EXPECT_EQ(report.owned, 0);
    EXPECT_FALSE(std::filesystem::exists(abandoned));
    EXPECT_FALSE(std::filesystem::exists(lockLinked));
    EXPECT_TRUE(std::filesystem::is_symlink(entries + "/" + std::string(32, 'a')));
    EXPECT_TRUE(std::filesystem::is_symlink(entries + "/.tmp-0123456789abcdef"));
    expectVictimUntouched();
}

// Inside an entry the host owns: a clip file swapped for a link is never offered to the drop
// target, and a record swapped for a link is replaced as a link, not written through.
TEST_F(SymlinkTest, LinksSwappedIntoAnOwnedEntryAreNotFollowed) {
    SessionHarness harness;
    harness.bind();
    const Clip clip = makeClip(2);
    writeFileText(victim_.join("file"), std::string(clip.bytes.begin(), clip.bytes.end()));
    victimBefore_ = snapshot(victim_.path());

    const auto first = harness.prepare("clip-a", 1, clip);
    const std::string firstId(first.at("preparedId").as_string());
    const std::string clipPath =
        harness.entryDirectory(firstId) + "/" + std::string(first.at("fileName").as_string());
    const auto armed = harness.arm(first);
    ASSERT_EQ(::unlink(clipPath.c_str()), 0);
    plant(victim_.join("file"), clipPath);
    harness.board.beginChromeDrag(std::string(armed.at("marker").as_string()));
    const auto events = harness.session.tick();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("\"DRAG_FAILED\""), std::string::npos) << events[0];
    EXPECT_TRUE(harness.board.claimedPaths.empty()) << "the link was offered to a drop target";

    const auto second = harness.prepare("clip-b", 1, makeClip(3));
    const std::string secondId(second.at("preparedId").as_string());
    const std::string recordPath = harness.entryDirectory(secondId) + "/entry.json";
    ASSERT_EQ(::unlink(recordPath.c_str()), 0);
    plant(victim_.join("file"), recordPath);
    EXPECT_EQ(harness.arm(second).at("type").as_string(), "ARMED");
    EXPECT_TRUE(harness.session.tick().empty());
    EXPECT_FALSE(std::filesystem::is_symlink(recordPath));
    EXPECT_EQ(harness.record(secondId).at("state").as_string(), "armed");
    harness.session.shutdown();
    expectVictimUntouched();
}

// Names that try to leave the entry directory, hide the file or take an entry file's name:
// each clip lands as a direct child of its own entry directory, and nothing appears anywhere
// else in the tree.
TEST_F(SymlinkTest, NoSuggestedNameEscapesItsEntryDirectory) {
    const std::vector<std::string> hostile = {
        "..",
        ".",
        "/",
        "../../../../etc/passwd",
        "a/../../b",
        "..\\..\\windows\\system32",
        "\xe2\x88\x95"
        "etc"
        "\xe2\x88\x95"
        "passwd",  // U+2215 division slash
        "\xef\xbc\x8f"
        "etc",  // U+FF0F fullwidth solidus
        "%2e%2e%2fescape",
        "entry.json",
        "owner.lock",
        "x/entry.json",
        ".entry.json.0123456789abcdef",
        std::string("nul\0byte", 8),
        "\n\r\t..",
        "\xe2\x80\xae"
        "dim.exe",  // right-to-left override
        std::string(300, '/') + "deep",
    };
    SessionHarness harness;
    harness.bind();
    const Clip clip = makeClip(7);
    std::set<std::string> expected;
    for (std::size_t index = 0; index < hostile.size(); ++index) {
        SCOPED_TRACE("name #" + std::to_string(index));
        harness.clock.advanceMonotonic(Limits::standard().rateWindow + 1);
        auto request = harness.prepareRequest("clip-" + std::to_string(index), 1, clip);
        request["suggestedName"] = hostile[index].substr(0, 200);
        const auto reply = harness.send(request);
        ASSERT_EQ(reply.at("type").as_string(), "PREPARED") << boost::json::serialize(reply);
        const std::string fileName(reply.at("fileName").as_string());
        const std::string directory =
            harness.entryDirectory(std::string(reply.at("preparedId").as_string()));
        EXPECT_EQ(fileName.find('/'), std::string::npos) << fileName;
        EXPECT_NE(fileName, "entry.json");
        EXPECT_NE(fileName, "owner.lock");
        EXPECT_NE(fileName[0], '.') << fileName;
        const std::filesystem::path stored = std::filesystem::path(directory) / fileName;
        EXPECT_EQ(std::filesystem::canonical(stored).parent_path(),
                  std::filesystem::canonical(directory));
        expected.insert(stored.string());
        expected.insert(directory + "/entry.json");
        expected.insert(directory + "/owner.lock");
        expected.insert(directory);
    }
    std::set<std::string> found;
    for (const auto& [path, content] : snapshot(harness.folder.path())) {
        found.insert(path);
    }
    expected.insert(harness.cache.root() + "/cache.lock");
    expected.insert(harness.cache.entriesDirectory());
    expected.insert(harness.cache.root());
    EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace quenra::testing
