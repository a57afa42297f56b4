// The GNUstep build's host, started as Chrome starts it, taking a drag over on GNUstep's shared
// drag pasteboard: the browser's drag and the drop target are other processes.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <boost/json/array.hpp>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bridge_core/services.h"
#include "gnustep/pasteboard_fixture.h"
#include "support/audio_samples.h"
#include "system_services/linux/file_url.h"

namespace quenra::testing {
namespace {

using std::chrono::seconds;

// Resident memory of a process in KiB, from the kernel's status file.
std::int64_t residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stoll(line.substr(line.find(':') + 1));
        }
    }
    throw std::runtime_error("no resident size for " + std::to_string(pid));
}

// The PUBLISHED event of a takeover, and what a drop target read off the pasteboard after it.
struct Takeover {
    boost::json::object published;
    boost::json::object seen;
};

class GNUstepHost : public PasteboardTest {
  protected:
    // The host ends once its input does, with status 0, having written its notes and nothing
    // else: GNUstep reports an object autoreleased outside any pool, or an exception, on
    // standard error.
    void expectEndWithNotes(HostProcess& host, const std::vector<std::string>& notes) {
        host.closeInput();
        EXPECT_EQ(host.wait(), ExitStatus::exitedWith(0));
        std::string expected;
        for (const std::string& note : notes) {
            expected += "quenra-native-host: " + note + "\n";
        }
        EXPECT_EQ(host.standardError(), expected);
    }

    // The mouse goes down and the browser starts a drag with the marker armed gave. The host
    // must publish under armed's token, having written the pasteboard once, right after the
    // browser: file URLs and file names, and no text.
    Takeover takeOver(HostProcess& host, const boost::json::object& armed) {
        dragSim({"button", "down"});
        const std::int64_t browser = browserDrag(Requests::text(armed, "marker"));
        Takeover takeover{next(host, milliseconds(2000)), {}};
        EXPECT_EQ(Requests::text(takeover.published, "type"), "PUBLISHED");
        EXPECT_EQ(Requests::text(takeover.published, "token"), Requests::text(armed, "token"));
        takeover.seen = dropTarget();
        EXPECT_EQ(takeover.seen.at("changeCount"), browser + 1);
        EXPECT_EQ(takeover.seen.at("types"),
                  (boost::json::array{PasteboardType::fileURL, PasteboardType::filenames}));
        EXPECT_TRUE(takeover.seen.at("plainText").is_null());
        return takeover;
    }
};

TEST_F(GNUstepHost, TakesTheBrowsersDragOverAndHandsTheDropTargetTheCachedClip) {
    HostProcess host = startHost();
    hello(host);
    const std::vector<std::uint8_t> midi = TestPeer::MidiClip::generate(4096);
    const PreparedClip clip = prepare(host, "prepare-1", midi.size());
    const boost::json::object armed = arm(host, "arm-1", clip);
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED");

    const auto [published, seen] = takeOver(host, armed);
    EXPECT_EQ(Requests::text(published, "preparedId"), clip.preparedId);

    // The file the host named is the clip in the host's cache, in the caches folder GNUstep
    // gives the user.
    ASSERT_TRUE(seen.at("filenames").is_array());
    ASSERT_EQ(seen.at("filenames").as_array().size(), 1u);
    const std::string path(seen.at("filenames").as_array().at(0).as_string());
    ASSERT_TRUE(seen.at("fileURL").is_string());
    EXPECT_EQ(FileURL::toPath(seen.at("fileURL").as_string()), path);
    EXPECT_EQ(path, gnustepCacheRoot() + "/entries/" + clip.preparedId + "/" + clip.fileName);
    EXPECT_EQ(readFileText(path), std::string(midi.begin(), midi.end()));

    expectEndWithNotes(host, {"hello", "prepared", "armed", "published"});
}

TEST_F(GNUstepHost, TakesTheBrowsersDragOverWithThreeClipsOneFileEach) {
    HostProcess host = startHost();
    hello(host);
    const std::vector<std::pair<std::string, std::size_t>> parts = {
        {"drums", 1024}, {"bass", 2048}, {"chords", 4096}};
    std::vector<PreparedClip> clips;
    std::vector<Requests::ListedClip> listed;
    boost::json::array publishedClips;
    for (const auto& [clipId, size] : parts) {
        const PreparedClip& clip =
            clips.emplace_back(prepare(host, "prepare-" + clipId, size, clipId));
        listed.push_back({clip.preparedId, clip.clipId, clip.generation, clip.sha256});
        publishedClips.push_back(
            boost::json::object{{"preparedId", clip.preparedId}, {"generation", 1}});
    }
    const boost::json::object armed = exchange(host, Requests::armList(session, "arm-1", listed));
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED") << boost::json::serialize(armed);

    const auto [published, seen] = takeOver(host, armed);
    EXPECT_EQ(published.at("clips"), publishedClips);

    // One item per clip in the list's order, each URL naming the clip's file in the cache, the
    // file-names list the same paths, and each file the clip byte for byte.
    ASSERT_TRUE(seen.at("fileURLs").is_array());
    ASSERT_TRUE(seen.at("filenames").is_array());
    const boost::json::array& urls = seen.at("fileURLs").as_array();
    const boost::json::array& filenames = seen.at("filenames").as_array();
    ASSERT_EQ(urls.size(), clips.size());
    ASSERT_EQ(filenames.size(), clips.size());
    for (std::size_t index = 0; index < clips.size(); ++index) {
        const std::string path = gnustepCacheRoot() + "/entries/" + clips[index].preparedId + "/" +
                                 clips[index].fileName;
        ASSERT_TRUE(urls.at(index).is_string());
        EXPECT_EQ(FileURL::toPath(urls.at(index).as_string()), path);
        EXPECT_EQ(filenames.at(index), boost::json::string(path));
        const std::vector<std::uint8_t> midi = TestPeer::MidiClip::generate(parts[index].second);
        EXPECT_EQ(readFileText(path), std::string(midi.begin(), midi.end()));
    }

    expectEndWithNotes(host, {"hello", "prepared", "prepared", "prepared", "armed", "published"});
}

// The file an audio takeover makes in the user's library, and the folders it makes on the way,
// removed when this goes.
class LibraryLeftovers {
  public:
    LibraryLeftovers(const std::filesystem::path& music, const std::filesystem::path& file)
        : file_(file) {
        for (const std::filesystem::path& folder : {music, file.parent_path()}) {
            if (!made_.empty() || !std::filesystem::exists(folder)) {
                made_.push_back(folder);
            }
        }
    }
    ~LibraryLeftovers() {
        std::error_code ignored;
        std::filesystem::remove(file_, ignored);
        for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
            std::filesystem::remove(*folder, ignored);
        }
    }
    LibraryLeftovers(const LibraryLeftovers&) = delete;
    LibraryLeftovers& operator=(const LibraryLeftovers&) = delete;

  private:
    std::filesystem::path file_;
    std::vector<std::filesystem::path> made_;
};

// GNUstep puts the user's music folder in the home of the passwd entry, whatever HOME says, and
// no configuration names it elsewhere: this test's library is the real one of the user who runs
// it. It takes a name no one else has and removes what it made.
TEST_F(GNUstepHost, TakesTheBrowsersDragOverWithAnAudioClipFromTheLibrary) {
    const passwd* user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    const std::filesystem::path music = std::filesystem::path(user->pw_dir) / "Music";
    const std::string name =
        "GNUstep takeover " + std::filesystem::path(home.path()).filename().string();
    const std::string path = (music / "Quenra Bridge" / (name + ".wav")).string();
    const LibraryLeftovers leftovers(music, path);

    HostProcess host = startHost();
    hello(host);
    const std::vector<std::uint8_t> wav = AudioSamples::wavFile({}, 3000);
    const PreparedClip clip = uploadWav(host, "upload-1", wav, 8192, name);
    const boost::json::object armed = arm(host, "arm-1", clip);
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED");

    const auto [published, seen] = takeOver(host, armed);
    EXPECT_EQ(Requests::text(published, "preparedId"), clip.preparedId);
    // The drop target is handed the library's file, not the cached one.
    EXPECT_EQ(seen.at("filenames"), (boost::json::array{boost::json::string(path)}));
    ASSERT_TRUE(seen.at("fileURL").is_string());
    EXPECT_EQ(FileURL::toPath(seen.at("fileURL").as_string()), path);
    EXPECT_EQ(readFileText(path), std::string(wav.begin(), wav.end()));

    expectEndWithNotes(host, {"hello", "uploading", "prepared", "armed", "published"});
    // Published: the file is the user's, and outlives the host.
    EXPECT_EQ(readFileText(path), std::string(wav.begin(), wav.end()));
}

TEST_F(GNUstepHost, AnArmedHostPollsTheServerWithSteadyMemory) {
    HostProcess host = startHost();
    hello(host);
    const PreparedClip clip = prepare(host, "prepare-1");
    const boost::json::object armed = arm(host, "arm-1", clip);
    ASSERT_EQ(Requests::text(armed, "type"), "ARMED");

    // Every 5 ms poll asks the server for the change count, and GNUstep's messaging leaves
    // objects behind each time; each poll's pool must take them away with it. (Without any pool
    // GNUstep says so on standard error, checked below; a pool that is never drained only
    // grows, by about 200 KiB a second.)
    std::this_thread::sleep_for(seconds(1));
    const std::int64_t before = residentKiB(host.pid());
    std::this_thread::sleep_for(seconds(3));
    const std::int64_t after = residentKiB(host.pid());
    EXPECT_LE(after - before, 128) << before << " KiB, then " << after << " KiB";

    // Still polling: the browser's drag is taken over.
    dragSim({"button", "down"});
    browserDrag(Requests::text(armed, "marker"));
    EXPECT_EQ(Requests::text(next(host, milliseconds(2000)), "type"), "PUBLISHED");
    expectEndWithNotes(host, {"hello", "prepared", "armed", "published"});
}

TEST_F(GNUstepHost, TheSelfTestOpensAndLetsGoOfTheDragPasteboardCleanly) {
    const TestPeer::Completed done = runHost({"--self-test"});
    EXPECT_EQ(done.status, ExitStatus::exitedWith(0));
    EXPECT_NE(done.output.find("\"dragBoard\":\"ok\""), std::string::npos) << done.output;
    EXPECT_EQ(done.error, "");
}

}  // namespace
}  // namespace quenra::testing
