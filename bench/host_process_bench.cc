// The whole host process as a browser meets it, against a floor measured in the same run.
//
// Prepare/<bytes>: the host against the floor (prepare_floor.c), a plain C program that does
// the least any host must do for a PREPARE, the plainest fast way: read the frame whole,
// decode with OpenSSL, hash, store clip and record the durable way the cache does, on
// huge-page buffers that are never zero-filled. Both are started the same way over pipes, as
// Chrome starts a host, and answer HELLO untimed; then one PREPARE is written until its reply
// comes back (host_ms, floor_ms and their quotient prepare_ratio), and the input is closed and
// the process awaited: spawn to exit is host_process_ms, floor_process_ms and process_ratio,
// the wait a user meets when the browser starts the host for one drag. Each iteration runs
// both, alternating which goes first; the figures are medians, as the flushes vary a lot on a
// shared disk. Before each run the file system is synced after the other run's files, so that
// neither pays for the other's metadata in its first flush.
// Also: start_ms and floor_start_ms (spawn to HELLO's reply), cpu_ratio (the host's user and system
// time over the floor's), host_faults and floor_faults (minor page faults of one whole process),
// and peak_rss_per_frame and floor_peak_per_frame (peak resident memory over the frame size).
//
// IdleResident/<bytes>: a host's resident memory, idle after HELLO (before_mib) and idle
// after one PREPARE of that size (after_mib).
//
// Takeover/<clips>: one armed host, with one clip or a list of 16; the board is written as a
// browser drag would, at a random phase of the 5 ms poll, and the time until the host's claim
// is on the board is measured (the benchmark sleeps on inotify meanwhile, leaving the
// processors to the host). The 16-clip run also reports over_one_clip_ms, its median less the
// one-clip run's. Each iteration's ARM is timed too, until ARMED is read (arm_ms, the median),
// and the 16-clip run reports arm_over_one_clip, its median over the one-clip run's (the goal:
// within 2).
//
// StartOverAFullCache: spawn to HELLO's reply over a cache of 1,024 retained entries
// (start_full_ms) and over an empty one (start_empty_ms), alternating which goes first, and
// full_over_empty, the quotient of the medians (the goal: within 1.2).
//
// PrepareOnOneProcessor/1024: the same, with the benchmark, its hosts and its floor kept on one
// processor (the lowest this process may use). Not a goal: it tells the host's own work from
// the cost of wake-ups between processors, which a small PREPARE's flushes and hand-offs meet
// several times and which on a virtual machine can cost tens of microseconds each.
//
// IdleWakeups: how often an idle host's main thread wakes in one second (the goal is none).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge_core/base64.h"
#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/framing.h"
#include "bridge_core/hashing.h"
#include "bridge_core/json_writer.h"
#include "bridge_core/subprocess.h"
#include "support/temporary_directory.h"
#include "system_services/linux/drag_board.h"
#include "system_services/system_clock.h"
#include "system_services/system_random.h"
#include "test_peer/frame_collector.h"

namespace quenra {
namespace {

using Clock = std::chrono::steady_clock;

const char* const origin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";
const std::string hostPath = std::string(QUENRA_BUNDLE_EXECUTABLES) + "/quenra-native-host";
const std::string floorPath = QUENRA_PREPARE_FLOOR;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

double seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A valid one-track file of exactly size bytes.
std::vector<std::uint8_t> clipOfSize(std::size_t size) {
    std::vector<std::uint8_t> clip{'M', 'T', 'h', 'd', 0,    0,   0,   6,   0,
                                   0,   0,   1,   1,   0xE0, 'M', 'T', 'r', 'k'};
    const auto length = static_cast<std::uint32_t>(size - 22);
    for (const int shift : {24, 16, 8, 0})
        clip.push_back(static_cast<std::uint8_t>(length >> shift));
    std::mt19937 random(7);
    while (clip.size() < size - 3)
        clip.push_back(static_cast<std::uint8_t>(random() & 0x7F));
    clip.insert(clip.end(), {0xFF, 0x2F, 0x00});
    return clip;
}

std::string request(const char* type, const char* requestId, boost::json::object body = {}) {
    body["protocolVersion"] = "1.0";
    body["requestId"] = requestId;
    body["session"] = boost::json::object{{"id", "bench-session-000001"}, {"epoch", 1}};
    body["type"] = type;
    return JsonWriter::write(body).value();
}

ByteBuffer framed(const std::string& payload) {
    return FrameEncoder::frame(payload);
}

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

// What a run starts: the host, or the floor.
struct Program {
    std::string path;
    std::vector<std::string> arguments;
};

Program hostProgram() {
    return {hostPath, {origin}};
}

Program floorProgram(const Home& home) {
    return {floorPath, {home.path}};
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

    void send(const ByteBuffer& frame) { Files::writeAll(input_.get(), frame); }

    boost::json::object next() {
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
        std::string frame = frames_.front();
        frames_.erase(frames_.begin());
        return boost::json::parse(frame).as_object();
    }

    boost::json::object exchange(const std::string& payload, const char* expectedType) {
        send(framed(payload));
        boost::json::object reply = next();
        if (reply.at("type").as_string() != expectedType) {
            throw std::runtime_error("expected " + std::string(expectedType) + ", got " +
                                     JsonWriter::write(reply).value());
        }
        return reply;
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

std::string prepareRequest(const std::vector<std::uint8_t>& clip) {
    return request("PREPARE", "prepare-1",
                   {{"clipId", "bench-clip"},
                    {"generation", 1},
                    {"byteLength", static_cast<std::int64_t>(clip.size())},
                    {"sha256", Hashing::sha256Hex(clip)},
                    {"midiBase64", Base64::encode(clip)},
                    {"suggestedName", "Bench Clip"}});
}

const std::string hello = request("HELLO", "hello-1", {{"extensionVersion", "1.0"}});

// One process's PREPARE, timed.
struct Run {
    double start = 0;          // spawn to HELLO's reply
    double prepare = 0;        // the frame written until its reply is read
    double process = 0;        // spawn to exit
    double processorTime = 0;  // user and system, the whole process
    double faults = 0;         // page faults, the whole process
    double peak = 0;           // resident bytes at most
};

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Starts program, greets it untimed, sends frame and ends it.
Run runOnce(const Home& home, const Program& program, const ByteBuffer& frame) {
    home.settle();
    Run run;
    const Clock::time_point spawned = Clock::now();
    Host process(home, program);
    process.exchange(hello, "HELLO_OK");
    const Clock::time_point sent = Clock::now();
    run.start = seconds(sent - spawned);
    process.send(frame);
    const boost::json::object reply = process.next();
    run.prepare = seconds(Clock::now() - sent);
    if (reply.at("type").as_string() != "PREPARED")
        throw std::runtime_error(JsonWriter::write(reply).value());
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

double medianOf(const std::vector<Run>& runs, double Run::*field) {
    std::vector<double> values;
    for (const Run& run : runs)
        values.push_back(run.*field);
    return median(values);
}

void Prepare(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    Home home;
    const std::vector<std::uint8_t> clip = clipOfSize(size);
    const ByteBuffer frame = framed(prepareRequest(clip));
    std::vector<Run> hosts, floors;
    const auto runHost = [&] { hosts.push_back(runOnce(home, hostProgram(), frame)); };
    const auto runFloor = [&] {
        floors.push_back(runOnce(home, floorProgram(home), frame));
        std::filesystem::remove_all(home.path + "/floor-entry");
    };
    for (auto _ : state) {
        // Alternated, so that neither always runs just after the other's exit.
        const bool hostFirst = hosts.size() % 2 == 0;
        try {
            if (hostFirst)
                runHost();
            runFloor();
            if (!hostFirst)
                runHost();
        } catch (const std::exception& failed) {
            state.SkipWithError(failed.what());
            return;
        }
        state.SetIterationTime(hosts.back().prepare);
    }
    const auto ratio = [&](double Run::*field) {
        return medianOf(hosts, field) / medianOf(floors, field);
    };
    const double frameBytes = static_cast<double>(frame.size());
    state.counters["host_ms"] = medianOf(hosts, &Run::prepare) * 1000;
    state.counters["floor_ms"] = medianOf(floors, &Run::prepare) * 1000;
    state.counters["prepare_ratio"] = ratio(&Run::prepare);
    state.counters["host_process_ms"] = medianOf(hosts, &Run::process) * 1000;
    state.counters["floor_process_ms"] = medianOf(floors, &Run::process) * 1000;
    state.counters["process_ratio"] = ratio(&Run::process);
    state.counters["start_ms"] = medianOf(hosts, &Run::start) * 1000;
    state.counters["floor_start_ms"] = medianOf(floors, &Run::start) * 1000;
    state.counters["cpu_ratio"] = ratio(&Run::processorTime);
    state.counters["host_faults"] = medianOf(hosts, &Run::faults);
    state.counters["floor_faults"] = medianOf(floors, &Run::faults);
    state.counters["peak_rss_per_frame"] = medianOf(hosts, &Run::peak) / frameBytes;
    state.counters["floor_peak_per_frame"] = medianOf(floors, &Run::peak) / frameBytes;
}

void IdleResident(benchmark::State& state) {
    Home home;
    const ByteBuffer frame =
        framed(prepareRequest(clipOfSize(static_cast<std::size_t>(state.range(0)))));
    std::vector<double> before, after;
    for (auto _ : state) {
        Host idle(home);
        idle.exchange(hello, "HELLO_OK");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        before.push_back(static_cast<double>(idle.resident()));
        idle.send(frame);
        if (idle.next().at("type").as_string() != "PREPARED") {
            state.SkipWithError("no PREPARED");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after.push_back(static_cast<double>(idle.resident()));
    }
    state.counters["before_mib"] = median(before) / (1 << 20);
    state.counters["after_mib"] = median(after) / (1 << 20);
}
BENCHMARK(IdleResident)->Arg(16 << 20)->Iterations(5)->Unit(benchmark::kMillisecond);

// Keeps the calling thread, and so every thread and process it starts, on one processor while
// it lives, and restores the processors it had.
class OneProcessor {
  public:
    OneProcessor() {
        if (::sched_getaffinity(0, sizeof allowed_, &allowed_) != 0)
            fail("sched_getaffinity");
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &allowed_)) {
                CPU_SET(cpu, &one);
                processor_ = cpu;
                break;
            }
        }
        if (::sched_setaffinity(0, sizeof one, &one) != 0)
            fail("sched_setaffinity");
    }
    ~OneProcessor() { (void)::sched_setaffinity(0, sizeof allowed_, &allowed_); }
    OneProcessor(const OneProcessor&) = delete;
    OneProcessor& operator=(const OneProcessor&) = delete;
    int processor() const { return processor_; }

  private:
    cpu_set_t allowed_{};
    int processor_ = -1;
};

void PrepareOnOneProcessor(benchmark::State& state) {
    const OneProcessor pinned;
    Prepare(state);
    state.counters["processor"] = pinned.processor();
}

BENCHMARK(Prepare)->Arg(1024)->Iterations(41)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Prepare)->Arg(1 << 20)->Iterations(25)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Prepare)->Arg(16 << 20)->Iterations(15)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(PrepareOnOneProcessor)
    ->Arg(1024)
    ->Iterations(40)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A browser drag on the Linux board: the button goes down, then Chrome's type and the marker
// are declared in one change.
void beginDrag(FileDragBoard& board, FileMouseButtons& mouse, const std::string& marker) {
    mouse.setLeftButtonDown(true);
    board.update([&](DragBoardState& state) {
        state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText});
        state.setString(PasteboardType::plainText, marker);
    });
}

// count clips of about 4 KiB prepared on the host, each one's part of an ARM. Eight PREPAREs
// fill the host's rate window, so the ninth waits for the next one.
boost::json::array prepareClips(Host& host, int count) {
    boost::json::array clips;
    for (int index = 0; index < count; ++index) {
        if (index > 0 && index % 8 == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        }
        const std::vector<std::uint8_t> clip = clipOfSize(4096 + static_cast<std::size_t>(index));
        const std::string number = std::to_string(index + 1);
        const boost::json::object prepared =
            host.exchange(request("PREPARE", ("prepare-" + number).c_str(),
                                  {{"clipId", "bench-clip-" + number},
                                   {"generation", 1},
                                   {"byteLength", static_cast<std::int64_t>(clip.size())},
                                   {"sha256", Hashing::sha256Hex(clip)},
                                   {"midiBase64", Base64::encode(clip)},
                                   {"suggestedName", "Bench Clip " + number}}),
                          "PREPARED");
        clips.push_back({{"preparedId", prepared.at("preparedId")},
                         {"clipId", prepared.at("clipId")},
                         {"generation", 1},
                         {"sha256", prepared.at("sha256")}});
    }
    return clips;
}

// The medians of the one-clip run (takeover, ARM), which the several-clip run of the same
// process is set against.
double oneClipMedianSeconds = 0;
double oneClipArmSeconds = 0;

void Takeover(benchmark::State& state) {
    Home home;
    Host host(home);
    host.exchange(hello, "HELLO_OK");
    const boost::json::array clips = prepareClips(host, static_cast<int>(state.range(0)));
    // One clip is armed as the one-clip form, several as a "clips" list.
    const boost::json::object arm =
        clips.size() == 1 ? clips.at(0).as_object() : boost::json::object{{"clips", clips}};

    // The board the host opened: the same folder rule, the same environment.
    ::setenv("XDG_RUNTIME_DIR", (home.path + "/run").c_str(), 1);
    auto folder = DragBoardFolder::openSystem();
    FileDragBoard board(folder);
    FileMouseButtons mouse(folder);
    int notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify < 0 || ::inotify_add_watch(notify, folder->path().c_str(), IN_MOVED_TO) < 0) {
        fail("inotify");
    }
    std::mt19937 random(11);
    std::vector<double> latencies;
    std::vector<double> arms;
    int armed = 0;
    for (auto _ : state) {
        std::string requestId = "arm-" + std::to_string(++armed);
        const Clock::time_point asked = Clock::now();
        boost::json::object reply = host.exchange(request("ARM", requestId.c_str(), arm), "ARMED");
        arms.push_back(seconds(Clock::now() - asked));
        std::string marker(reply.at("marker").as_string());
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));

        beginDrag(board, mouse, marker);
        std::int64_t dragCount = board.changeCount();
        Clock::time_point changed = Clock::now();
        // Sleeps on the folder between looks, so the benchmark takes no processor from the
        // host it measures; the claim's rename of the count file wakes it.
        while (board.changeCount() == dragCount) {
            pollfd watch{notify, POLLIN, 0};
            if (::poll(&watch, 1, 50) > 0) {
                char events[4096];
                (void)::read(notify, events, sizeof events);
            }
        }
        double latency = seconds(Clock::now() - changed);
        state.SetIterationTime(latency);
        latencies.push_back(latency);
        if (host.next().at("type").as_string() != "PUBLISHED") {
            state.SkipWithError("no PUBLISHED");
            break;
        }
    }
    ::close(notify);
    if (latencies.empty()) {
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    const double middle = latencies[latencies.size() / 2];
    state.counters["median_ms"] = middle * 1000;
    state.counters["p90_ms"] = latencies[latencies.size() * 9 / 10] * 1000;
    const double arming = median(arms);
    state.counters["arm_ms"] = arming * 1000;
    if (clips.size() == 1) {
        oneClipMedianSeconds = middle;
        oneClipArmSeconds = arming;
    } else if (oneClipMedianSeconds > 0) {
        state.counters["over_one_clip_ms"] = (middle - oneClipMedianSeconds) * 1000;
        state.counters["arm_over_one_clip"] = arming / oneClipArmSeconds;
    }
}
// The clip count: one, then the most one drag carries, in the same run.
BENCHMARK(Takeover)->Arg(1)->Arg(16)->Iterations(40)->UseManualTime()->Unit(
    benchmark::kMillisecond);

// Fills home's cache, as the host finds it, with count entries of small clips, each published
// and retained for a day, as drags leave them: a sweep keeps them all, after reading each.
void fillCache(const Home& home, int count) {
    Files::createDirectories(home.path + "/.cache", 0700);
    SystemClock clock;
    SystemRandom random;
    Cache cache(home.path + "/.cache/" + std::string(Cache::directoryName), Limits::standard(),
                clock, random);
    const std::vector<std::uint8_t> clip = clipOfSize(4096);
    const std::string digest = Hashing::sha256Hex(clip);
    for (int index = 0; index < count; ++index) {
        OwnedEntry entry = cache.create(clip, "Bench Clip.mid", digest);
        cache.update(entry, EntryState::published, clock.wallNow() + 86400);
        cache.relinquish(entry);
    }
}

// Spawn to HELLO's reply; the process is then let go and awaited, untimed.
double startSeconds(const Home& home) {
    home.settle();
    const Clock::time_point spawned = Clock::now();
    Host process(home);
    process.exchange(hello, "HELLO_OK");
    const double elapsed = seconds(Clock::now() - spawned);
    const Ending ending = process.end();
    if (!WIFEXITED(ending.status) || WEXITSTATUS(ending.status) != 0)
        throw std::runtime_error("the host did not exit with status 0");
    return elapsed;
}

void StartOverAFullCache(benchmark::State& state) {
    Home empty;
    Home full;
    try {
        fillCache(full, static_cast<int>(Limits::standard().cacheMaxEntries));
    } catch (const std::exception& failed) {
        state.SkipWithError(failed.what());
        return;
    }
    std::vector<double> fulls, empties;
    for (auto _ : state) {
        // Alternated, so that neither always runs just after the other's exit.
        const bool fullFirst = fulls.size() % 2 == 0;
        try {
            if (fullFirst)
                fulls.push_back(startSeconds(full));
            empties.push_back(startSeconds(empty));
            if (!fullFirst)
                fulls.push_back(startSeconds(full));
        } catch (const std::exception& failed) {
            state.SkipWithError(failed.what());
            return;
        }
        state.SetIterationTime(fulls.back());
    }
    state.counters["start_full_ms"] = median(fulls) * 1000;
    state.counters["start_empty_ms"] = median(empties) * 1000;
    state.counters["full_over_empty"] = median(fulls) / median(empties);
}
BENCHMARK(StartOverAFullCache)->Iterations(31)->UseManualTime()->Unit(benchmark::kMillisecond);

void IdleWakeups(benchmark::State& state) {
    Home home;
    Host host(home);
    host.exchange(hello, "HELLO_OK");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::int64_t wakeups = 0;
    for (auto _ : state) {
        std::int64_t before = host.mainThreadWakeups();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        wakeups += host.mainThreadWakeups() - before;
    }
    state.counters["wakeups_per_s"] =
        static_cast<double>(wakeups) / static_cast<double>(state.iterations());
}
BENCHMARK(IdleWakeups)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenra

BENCHMARK_MAIN();
