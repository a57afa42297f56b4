// What the benchmarks that run whole host processes share: a home of their own, a program (the
// host or a floor) started over pipes as Chrome starts a host, its replies read back as JSON,
// and browser drags on the Linux board timed until the host's claim is on it.
#pragma once

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge_core/files.h"
#include "bridge_core/framing.h"
#include "bridge_core/json_writer.h"
#include "bridge_core/subprocess.h"
#include "support/temporary_directory.h"
#include "system_services/linux/drag_board.h"
#include "test_peer/frame_collector.h"

namespace quenra::bench {

using Clock = std::chrono::steady_clock;

inline const char* const origin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";
inline const std::string hostPath = std::string(QUENRA_BUNDLE_EXECUTABLES) + "/quenra-native-host";

[[noreturn]] inline void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

inline double seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

inline double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline std::string request(const char* type, const char* requestId, boost::json::object body = {}) {
    body["protocolVersion"] = "1.0";
    body["requestId"] = requestId;
    body["session"] = boost::json::object{{"id", "bench-session-000001"}, {"epoch", 1}};
    body["type"] = type;
    return JsonWriter::write(body).value();
}

inline ByteBuffer framed(const std::string& payload) {
    return FrameEncoder::frame(payload);
}

inline const std::string hello = request("HELLO", "hello-1", {{"extensionVersion", "1.0"}});

// A home of its own for the benchmark's hosts and its floor files.
struct Home {
    Home() { ::mkdir((path + "/run").c_str(), 0700); }

    // Commits what earlier iterations left pending (a host's exit removes its entry, the
    // floor removes its copy), so that neither timed part pays for the other's metadata in
    // its first flush.
    void settle() const {
        const Descriptor directory = Files::openOwnDirectory(path);
        if (!directory.isOpen())
            fail("open " + path);
        ::syncfs(directory.get());
    }

    testing::TemporaryDirectory temporary;
    std::string path = temporary.path();
};

// What a run starts: the host, or a floor.
struct Program {
    std::string path;
    std::vector<std::string> arguments;
};

inline Program hostProgram() {
    return {hostPath, {origin}};
}

// How a process ended, and what it used on the way (wait4's account).
struct Ending {
    int status = -1;
    rusage usage{};
};

// One process over pipes, as Chrome starts a host.
class Host {
  public:
    explicit Host(const Home& home, const Program& program = hostProgram()) {
        Files::Pipe input = Files::openPipe();
        Files::Pipe output = Files::openPipe();
        // The host's log lines would only clutter the figures: standard error is left out.
        pid_ = Subprocess::start(
            program.path, program.arguments,
            std::vector<std::string>{"HOME=" + home.path, "XDG_RUNTIME_DIR=" + home.path + "/run"},
            {.input = input.reading.get(), .output = output.writing.get()});
        input_ = std::move(input.writing);
        output_ = std::move(output.reading);
    }
    ~Host() {
        if (pid_ > 0)
            (void)end();
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void send(const ByteBuffer& frame) { Files::writeAll(input_.get(), frame); }

    boost::json::object next() { return boost::json::parse(nextFrame()).as_object(); }

    // The next frame's body, unparsed.
    std::string nextFrame() {
        while (frames_.empty()) {
            std::uint8_t chunk[65536];
            ssize_t count = ::read(output_.get(), chunk, sizeof chunk);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                throw std::runtime_error("the host ended its output");
            for (const TestPeer::Decoded& decoded :
                 decoder_.append(std::span(chunk, static_cast<std::size_t>(count)))) {
                const ByteBuffer& body = std::get<ByteBuffer>(decoded);
                frames_.push_back(std::string(body.begin(), body.end()));
            }
        }
        std::string frame = std::move(frames_.front());
        frames_.erase(frames_.begin());
        return frame;
    }

    // The reply to frame, which must be of expectedType.
    boost::json::object exchange(const ByteBuffer& frame, const char* expectedType) {
        send(frame);
        boost::json::object reply = next();
        if (reply.at("type").as_string() != expectedType) {
            throw std::runtime_error("expected " + std::string(expectedType) + ", got " +
                                     JsonWriter::write(reply).value());
        }
        return reply;
    }

    boost::json::object exchange(const std::string& payload, const char* expectedType) {
        return exchange(framed(payload), expectedType);
    }

    // Ends the input, as the browser does when it lets the host go, and waits for the exit.
    Ending end() {
        input_.reset();
        Ending ending;
        while (::wait4(pid_, &ending.status, 0, &ending.usage) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return ending;
    }

    // Resident memory now, and its peak so far, bytes.
    std::int64_t resident() const { return statusField("VmRSS:") * 1024; }
    std::int64_t peakResident() const { return statusField("VmHWM:") * 1024; }
    std::int64_t mainThreadWakeups() const {
        return statusField("voluntary_ctxt_switches:", "/task/" + std::to_string(pid_));
    }

  private:
    std::int64_t statusField(const std::string& name, const std::string& task = "") const {
        std::ifstream status("/proc/" + std::to_string(pid_) + task + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.starts_with(name))
                return std::stoll(line.substr(name.size()));
        }
        throw std::runtime_error("no " + name + " for the host");
    }

    int pid_ = -1;
    Descriptor input_;
    Descriptor output_;
    TestPeer::FrameCollector decoder_;
    std::vector<std::string> frames_;
};

// One run of a program: started, greeted with HELLO untimed, then the requests measured.
struct Run {
    double start = 0;          // spawn to HELLO's reply
    double requests = 0;       // the first measured request written until the last reply is read
    double process = 0;        // spawn to exit
    double processorTime = 0;  // user and system, the whole process
    double faults = 0;         // page faults, the whole process
    double peak = 0;           // resident bytes at most
};

// Starts program, greets it, runs requests on it timed and ends it; throws unless the program
// exits with status 0.
inline Run runOnce(const Home& home, const Program& program,
                   const std::function<void(Host&)>& requests) {
    home.settle();
    Run run;
    const Clock::time_point spawned = Clock::now();
    Host process(home, program);
    process.exchange(hello, "HELLO_OK");
    const Clock::time_point sent = Clock::now();
    run.start = seconds(sent - spawned);
    requests(process);
    run.requests = seconds(Clock::now() - sent);
    // Read here: wait4's peak would count the benchmark's own pages, which the child shared
    // until it started the program.
    run.peak = static_cast<double>(process.peakResident());
    const Ending ending = process.end();
    run.process = seconds(Clock::now() - spawned);
    if (!WIFEXITED(ending.status) || WEXITSTATUS(ending.status) != 0)
        throw std::runtime_error(program.path + " did not exit with status 0");
    run.processorTime = seconds(ending.usage.ru_utime) + seconds(ending.usage.ru_stime);
    run.faults = static_cast<double>(ending.usage.ru_minflt + ending.usage.ru_majflt);
    return run;
}

// The host and a floor run once each per iteration, alternating which goes first, so that
// neither always runs just after the other's exit; an iteration's time is the host's requests.
// The floor's entry (folder/floor-entry) is removed after each of its runs.
class HostAndFloor {
  public:
    // False when a run failed; the state then says why.
    bool run(benchmark::State& state, const Home& home, const Program& floor,
             const std::function<void(Host&)>& requests) {
        for (auto _ : state) {
            const bool hostFirst = hosts_.size() % 2 == 0;
            try {
                if (hostFirst)
                    hosts_.push_back(runOnce(home, hostProgram(), requests));
                floors_.push_back(runOnce(home, floor, requests));
                std::filesystem::remove_all(home.path + "/floor-entry");
                if (!hostFirst)
                    hosts_.push_back(runOnce(home, hostProgram(), requests));
            } catch (const std::exception& failed) {
                state.SkipWithError(failed.what());
                return false;
            }
            state.SetIterationTime(hosts_.back().requests);
        }
        return !hosts_.empty();
    }

    // Medians of the host's runs, of the floor's, and their quotient.
    double host(double Run::*field) const { return medianOf(hosts_, field); }
    double floor(double Run::*field) const { return medianOf(floors_, field); }
    double ratio(double Run::*field) const { return host(field) / floor(field); }

  private:
    static double medianOf(const std::vector<Run>& runs, double Run::*field) {
        std::vector<double> values;
        for (const Run& run : runs)
            values.push_back(run.*field);
        return median(values);
    }

    std::vector<Run> hosts_;
    std::vector<Run> floors_;
};

// The host's rate window takes eight PREPAREs and UPLOADs; the ninth waits for the next one.
inline void paceClip(int index) {
    if (index > 0 && index % 8 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    }
}

// A clip of an ARM's "clips" list, from its PREPARED.
inline boost::json::object listed(const boost::json::object& prepared) {
    return {{"preparedId", prepared.at("preparedId")},
            {"clipId", prepared.at("clipId")},
            {"generation", prepared.at("generation")},
            {"sha256", prepared.at("sha256")}};
}

// The one-clip form of ARM for one clip, a "clips" list for several.
inline boost::json::object armOf(const boost::json::array& clips) {
    return clips.size() == 1 ? clips.at(0).as_object() : boost::json::object{{"clips", clips}};
}

// Browser drags on the Linux board of a home's hosts, each timed from the drag's declaration
// until the host's claim is on the board. The benchmark sleeps on inotify meanwhile, leaving
// the processors to the host.
class BoardDrags {
  public:
    // How long one armed drag took: ARM written to ARMED read (the request made before, the
    // reply parsed after), and the drag declared to the claim on the board.
    struct Times {
        double arm = 0;
        double claim = 0;
    };

    explicit BoardDrags(const Home& home) {
        // The board the host opened: the same folder rule, the same environment.
        ::setenv("XDG_RUNTIME_DIR", (home.path + "/run").c_str(), 1);
        folder_ = DragBoardFolder::openSystem();
        board_ = std::make_unique<FileDragBoard>(folder_);
        mouse_ = std::make_unique<FileMouseButtons>(folder_);
        notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (notify_ < 0 || ::inotify_add_watch(notify_, folder_->path().c_str(), IN_MOVED_TO) < 0) {
            fail("inotify");
        }
    }
    ~BoardDrags() { ::close(notify_); }
    BoardDrags(const BoardDrags&) = delete;
    BoardDrags& operator=(const BoardDrags&) = delete;

    // Arms the host, then starts a browser drag with its marker at a random phase of the 5 ms
    // poll, and waits for the claim and the PUBLISHED that follows it.
    Times takeOver(Host& host, const boost::json::object& arm) {
        Times times;
        const std::string requestId = "arm-" + std::to_string(++armed_);
        const ByteBuffer frame = framed(request("ARM", requestId.c_str(), arm));
        const Clock::time_point asked = Clock::now();
        host.send(frame);
        const std::string answer = host.nextFrame();
        times.arm = seconds(Clock::now() - asked);
        const boost::json::object reply = boost::json::parse(answer).as_object();
        if (reply.at("type").as_string() != "ARMED") {
            throw std::runtime_error("expected ARMED, got " + answer);
        }
        const std::string marker(reply.at("marker").as_string());
        std::this_thread::sleep_for(std::chrono::microseconds(random_() % 5000));

        // The button goes down, then Chrome's type and the marker are declared in one change.
        mouse_->setLeftButtonDown(true);
        board_->update([&](DragBoardState& state) {
            state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText});
            state.setString(PasteboardType::plainText, marker);
        });
        const std::int64_t dragCount = board_->changeCount();
        const Clock::time_point changed = Clock::now();
        // The claim's rename of the count file wakes the benchmark.
        while (board_->changeCount() == dragCount) {
            pollfd watch{notify_, POLLIN, 0};
            if (::poll(&watch, 1, 50) > 0) {
                char events[4096];
                (void)::read(notify_, events, sizeof events);
            }
        }
        times.claim = seconds(Clock::now() - changed);
        if (host.next().at("type").as_string() != "PUBLISHED") {
            throw std::runtime_error("no PUBLISHED after the claim");
        }
        return times;
    }

  private:
    std::shared_ptr<const DragBoardFolder> folder_;
    std::unique_ptr<FileDragBoard> board_;
    std::unique_ptr<FileMouseButtons> mouse_;
    int notify_ = -1;
    int armed_ = 0;
    std::mt19937 random_{11};
};

// The takeover of arm, once per iteration, each iteration's time the claim's. Counters:
// median_ms and p90_ms of the claims, arm_ms (the median ARM); with a baseline (the medians of
// a one-clip run in the same process), over_one_clip_ms (the median's excess over the
// baseline's) and arm_ratio (the median ARM over the baseline's). Returns the medians; nothing
// measured when an iteration failed.
inline BoardDrags::Times timeTakeovers(benchmark::State& state, const Home& home, Host& host,
                                       const boost::json::object& arm,
                                       const BoardDrags::Times* baseline = nullptr) {
    BoardDrags drags(home);
    std::vector<double> claims;
    std::vector<double> arms;
    for (auto _ : state) {
        try {
            const BoardDrags::Times times = drags.takeOver(host, arm);
            state.SetIterationTime(times.claim);
            claims.push_back(times.claim);
            arms.push_back(times.arm);
        } catch (const std::exception& failed) {
            state.SkipWithError(failed.what());
            return {};
        }
    }
    if (claims.empty()) {
        return {};
    }
    const BoardDrags::Times middle{median(arms), median(claims)};
    std::sort(claims.begin(), claims.end());
    state.counters["median_ms"] = middle.claim * 1000;
    state.counters["p90_ms"] = claims[claims.size() * 9 / 10] * 1000;
    state.counters["arm_ms"] = middle.arm * 1000;
    if (baseline != nullptr && baseline->claim > 0) {
        state.counters["over_one_clip_ms"] = (middle.claim - baseline->claim) * 1000;
        state.counters["arm_ratio"] = middle.arm / baseline->arm;
    }
    return middle;
}

}  // namespace quenra::bench
