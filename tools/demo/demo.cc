// quenra-demo: plays the browser extension, the browser's drag and the drop target against the
// real host over its real pipes: HELLO, PREPARE of a generated clip, ARM, a browser drag that
// carries the marker, PUBLISHED, the file the drop target would receive (its bytes and SHA-256
// checked against the clip), STATUS, RELEASE and the end of input. Prints what went by and
// exits 1 at the first step that differs from what the host promises.
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge_core/hashing.h"
#include "bridge_core/identity.h"
#include "system_services/linux/file_url.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra {
namespace {

namespace Requests = TestPeer::Requests;
using TestPeer::milliseconds;

struct StepFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void expect(bool condition, const std::string& what) {
    if (!condition)
        throw StepFailed(what);
}

std::string shortened(const std::string& text, std::size_t keep = 12) {
    return text.size() <= keep ? text : text.substr(0, keep) + "…";
}

std::string integer(const boost::json::object& message, std::string_view key) {
    const boost::json::value* value = message.if_contains(key);
    return value != nullptr && value->is_int64() ? std::to_string(value->as_int64()) : "?";
}

class Demo {
  public:
    Demo(std::string host, std::string dragSim, std::string home)
        : host_(std::move(host)),
          dragSim_(std::move(dragSim)),
          home_(std::move(home)),
          environment_(TestPeer::isolatedEnvironment(home_)),
          process_(TestPeer::HostProcess::spawn(
              host_, {"chrome-extension://" + std::string(Identity::releaseExtensionID) + "/"},
              environment_)) {}

    void run() {
        std::cout << "host   " << host_ << "\nhome   " << home_ << "\n\n";
        sayHello();
        const PreparedClip clip = prepareClip();
        const ArmedDrag armed = armDrag(clip);
        dragAndPublish(clip, armed);
        checkDrop(clip);
        checkStatus();
        releaseClip(clip);
        endInput();
        std::cout << "\nhost log:\n" << process_.standardError();
    }

  private:
    struct PreparedClip {
        std::vector<std::uint8_t> bytes;
        std::string sha256;
        std::string preparedId;
        std::string fileName;
    };
    struct ArmedDrag {
        std::string token;
        std::string marker;
    };

    void sayHello() {
        boost::json::object hello = ask("HELLO", Requests::hello(session_, "demo-1"), "demo-1");
        expect(Requests::text(hello, "type") == "HELLO_OK", "HELLO is answered HELLO_OK");
        const auto& platform = hello.at("platform").as_object();
        say("←", "HELLO_OK",
            "helper " + Requests::text(hello, "helperVersion") + " on " +
                Requests::text(platform, "os") + " " + Requests::text(platform, "version") + " " +
                Requests::text(platform, "arch"));
    }

    PreparedClip prepareClip() {
        PreparedClip clip;
        clip.bytes = TestPeer::MidiClip::generate(2048);
        clip.sha256 = Hashing::sha256Hex(clip.bytes);
        boost::json::object prepared =
            ask("PREPARE",
                Requests::prepare(session_, "demo-2", "demo-clip", 1, clip.bytes, "Demo Riff"),
                "demo-2",
                "clip demo-clip generation 1, " + std::to_string(clip.bytes.size()) +
                    " bytes, sha256 " + shortened(clip.sha256) + ", name \"Demo Riff\"");
        expect(Requests::text(prepared, "type") == "PREPARED", "PREPARE is answered PREPARED");
        clip.preparedId = Requests::text(prepared, "preparedId");
        clip.fileName = Requests::text(prepared, "fileName");
        expect(Requests::text(prepared, "sha256") == clip.sha256,
               "PREPARED repeats the clip's hash");
        say("←", "PREPARED", "preparedId " + clip.preparedId + ", file \"" + clip.fileName + "\"");
        return clip;
    }

    ArmedDrag armDrag(const PreparedClip& clip) {
        boost::json::object armed = ask(
            "ARM", Requests::arm(session_, "demo-3", clip.preparedId, "demo-clip", 1, clip.sha256),
            "demo-3", "preparedId " + clip.preparedId);
        expect(Requests::text(armed, "type") == "ARMED", "ARM is answered ARMED");
        ArmedDrag drag{Requests::text(armed, "token"), Requests::text(armed, "marker")};
        say("←", "ARMED", "token " + drag.token + ", lease " + integer(armed, "leaseMs") + " ms");
        say(" ", "", "marker " + drag.marker);
        return drag;
    }

    // The browser's drag carries the marker; the host takes the board over and says so.
    void dragAndPublish(const PreparedClip& clip, const ArmedDrag& armed) {
        auto dragged = std::chrono::steady_clock::now();
        dragSim({"begin", armed.marker});
        boost::json::object published = event();
        auto seen = std::chrono::steady_clock::now();
        expect(Requests::text(published, "type") == "PUBLISHED",
               "the drag is PUBLISHED, not " + Requests::text(published, "type"));
        expect(Requests::text(published, "token") == armed.token,
               "PUBLISHED names the armed token");
        expect(Requests::text(published, "preparedId") == clip.preparedId,
               "PUBLISHED names the prepared clip");
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(seen - dragged);
        say("←", "PUBLISHED",
            "token " + armed.token + " (" + std::to_string(waited.count()) +
                " ms after quenra-drag-sim was started)");
    }

    // What a drop target would receive from the board: the clip's file, whole and named.
    void checkDrop(const PreparedClip& clip) {
        std::string board = dragSim({"show"});
        boost::json::object shown = boost::json::parse(board).as_object();
        std::string fileURL = Requests::text(shown, "fileURL");
        std::optional<std::string> path = FileURL::toPath(fileURL);
        expect(path.has_value(), "the board carries a file URL, not \"" + fileURL + "\"");
        say(" ", "", "board " + fileURL);
        const auto* filenames = shown.if_contains("filenames");
        expect(filenames != nullptr && filenames->is_array() && filenames->as_array().size() == 1 &&
                   filenames->as_array()[0] == boost::json::value(*path),
               "the board's file names list holds the same path");
        expect(shown.at("plainText").is_null(), "the marker text is gone from the board");
        std::vector<std::uint8_t> dropped = readFile(*path);
        expect(dropped == clip.bytes, "the dropped file holds the clip's bytes");
        expect(Hashing::sha256Hex(dropped) == clip.sha256,
               "the dropped file has the clip's SHA-256");
        expect(std::filesystem::path(*path).filename() == clip.fileName,
               "the dropped file is named as PREPARED said");
        say("✓", "dropped",
            *path + ", " + std::to_string(dropped.size()) + " bytes, sha256 matches");
    }

    void checkStatus() {
        boost::json::object status = ask("STATUS", Requests::status(session_, "demo-4"), "demo-4");
        expect(Requests::text(status, "type") == "STATUS", "STATUS is answered STATUS");
        const auto& cache = status.at("cache").as_object();
        expect(status.at("armed") == false, "STATUS: nothing armed after the drop");
        say("←", "STATUS",
            "armed false, preparations " + integer(status, "preparations") + ", cache " +
                integer(cache, "entries") + " entries / " + integer(cache, "bytes") + " bytes");
    }

    void releaseClip(const PreparedClip& clip) {
        boost::json::object released =
            ask("RELEASE", Requests::release(session_, "demo-5", clip.preparedId), "demo-5",
                "preparedId " + clip.preparedId);
        expect(Requests::text(released, "type") == "RELEASED", "RELEASE is answered RELEASED");
        say("←", "RELEASED", "");
    }

    void endInput() {
        say("→", "end of input", "");
        process_.closeInput();
        std::optional<TestPeer::ExitStatus> exit = process_.wait(milliseconds(5000));
        expect(exit.has_value(), "the host ends when its input ends");
        expect(*exit == TestPeer::ExitStatus::exitedWith(0),
               "the host exits with status 0, not " + TestPeer::describe(*exit));
        expect(process_.outputEndsWithin(milliseconds(1000)), "nothing more is written");
        say("←", "exit", "status 0");
    }

    void say(const char* direction, const std::string& what, const std::string& detail) {
        std::printf("%s %-13s %s\n", direction, what.c_str(), detail.c_str());
        std::fflush(stdout);
    }

    boost::json::object ask(const std::string& type, const std::string& request,
                            const std::string& requestId, const std::string& detail = "") {
        say("→", type, "requestId " + requestId + (detail.empty() ? "" : ", " + detail));
        return exchange(request, requestId);
    }

    boost::json::object exchange(const std::string& request, const std::string& requestId) {
        expect(process_.send(request), "the host takes the request");
        boost::json::object reply = event();
        expect(Requests::text(reply, "requestId") == requestId,
               "the reply answers " + requestId + ": " + boost::json::serialize(reply));
        if (Requests::text(reply, "type") == "ERROR") {
            throw StepFailed("the host answered " + Requests::text(reply, "code"));
        }
        return reply;
    }

    boost::json::object event() {
        std::optional<std::string> frame = process_.readFrame(milliseconds(5000));
        expect(frame.has_value(), "the host answers within 5 s");
        return Requests::parse(*frame);
    }

    std::string dragSim(const std::vector<std::string>& arguments) {
        std::string shown = "$ quenra-drag-sim";
        for (const std::string& argument : arguments)
            shown += " " + argument;
        std::printf("%s\n", shown.c_str());
        TestPeer::Completed done = TestPeer::run(dragSim_, arguments, environment_);
        expect(done.status == TestPeer::ExitStatus::exitedWith(0),
               "quenra-drag-sim " + arguments.front() + " succeeds: " + done.error);
        return done.output;
    }

    static std::vector<std::uint8_t> readFile(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        expect(file.good(), "the dropped file " + path + " can be read");
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
    }

    std::string host_;
    std::string dragSim_;
    std::string home_;
    std::vector<std::string> environment_;
    TestPeer::HostProcess process_;
    Requests::Session session_{"quenra-demo-session-0001", 1};
};

int usage() {
    std::fprintf(stderr,
                 "usage: quenra-demo [--host PATH] [--drag-sim PATH] [--home DIR]\n"
                 "  without --home a temporary one is made and removed afterwards\n");
    return 64;
}

}  // namespace
}  // namespace quenra

int main(int argc, char** argv) {
    std::string host = quenra::TestPeer::defaultHostPath();
    std::string dragSim = quenra::TestPeer::defaultDragSimPath();
    std::string home;
    for (int index = 1; index < argc; ++index) {
        std::string_view option = argv[index];
        if (index + 1 >= argc)
            return quenra::usage();
        if (option == "--host") {
            host = argv[++index];
        } else if (option == "--drag-sim") {
            dragSim = argv[++index];
        } else if (option == "--home") {
            home = argv[++index];
        } else {
            return quenra::usage();
        }
    }
    bool madeHome = false;
    if (home.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "quenra-demo-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("quenra-demo: mkdtemp");
            return 1;
        }
        home = pattern;
        madeHome = true;
    }
    int status = 0;
    try {
        quenra::Demo(host, dragSim, home).run();
        std::printf("\ndemo passed\n");
    } catch (const quenra::StepFailed& failure) {
        std::fprintf(stderr, "\nquenra-demo: FAILED: %s\n", failure.what());
        status = 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "\nquenra-demo: %s\n", error.what());
        status = 1;
    }
    if (madeHome)
        std::filesystem::remove_all(home);
    return status;
}
