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
// one-clip run's. arm_ms is the median time from writing ARM to reading ARMED, which the page
// waits for before its drag can start; the 16-clip run reports arm_ratio, its arm_ms over the
// one-clip run's (the goal is at most 2).
//
// PrepareOnOneProcessor/1024: the same, with the benchmark, its hosts and its floor kept on one
// processor (the lowest this process may use). Not a goal: it tells the host's own work from
// the cost of wake-ups between processors, which a small PREPARE's flushes and hand-offs meet
// several times and which on a virtual machine can cost tens of microseconds each.
//
// IdleWakeups: how often an idle host's main thread wakes in one second (the goal is none).
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/wait.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <chrono>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_host.h"
#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"

namespace quenra {
namespace {

using bench::BoardDrags;
using bench::Clock;
using bench::Ending;
using bench::fail;
using bench::framed;
using bench::hello;
using bench::Home;
using bench::Host;
using bench::hostProgram;
using bench::median;
using bench::Program;
using bench::request;
using bench::seconds;

const std::string floorPath = QUENRA_PREPARE_FLOOR;

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

Program floorProgram(const Home& home) {
    return {floorPath, {home.path}};
}

std::string prepareRequest(const std::vector<std::uint8_t>& clip) {
    return request("PREPARE", "prepare-1",
                   {{"clipId", "bench-clip"},
                    {"generation", 1},
                    {"byteLength", static_cast<std::int64_t>(clip.size())},
                    {"sha256", Hashing::sha256Hex(clip)},
                    {"midiBase64", Base64::encode(clip)},
                    {"suggestedName", "Bench Clip"}});
}

// One process's PREPARE, timed.
struct Run {
    double start = 0;          // spawn to HELLO's reply
    double prepare = 0;        // the frame written until its reply is read
    double process = 0;        // spawn to exit
    double processorTime = 0;  // user and system, the whole process
    double faults = 0;         // page faults, the whole process
    double peak = 0;           // resident bytes at most
};

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

// count clips of about 4 KiB prepared on the host, each one's part of an ARM.
boost::json::array prepareClips(Host& host, int count) {
    boost::json::array clips;
    for (int index = 0; index < count; ++index) {
        bench::paceClip(index);
        const std::vector<std::uint8_t> clip = clipOfSize(4096 + static_cast<std::size_t>(index));
        const std::string number = std::to_string(index + 1);
        clips.push_back(bench::listed(
            host.exchange(request("PREPARE", ("prepare-" + number).c_str(),
                                  {{"clipId", "bench-clip-" + number},
                                   {"generation", 1},
                                   {"byteLength", static_cast<std::int64_t>(clip.size())},
                                   {"sha256", Hashing::sha256Hex(clip)},
                                   {"midiBase64", Base64::encode(clip)},
                                   {"suggestedName", "Bench Clip " + number}}),
                          "PREPARED")));
    }
    return clips;
}

// The medians of the one-clip run, which the several-clip run of the same process is set
// against.
BoardDrags::Times oneClip;

void Takeover(benchmark::State& state) {
    Home home;
    Host host(home);
    host.exchange(hello, "HELLO_OK");
    const boost::json::array clips = prepareClips(host, static_cast<int>(state.range(0)));
    if (clips.size() == 1) {
        oneClip = bench::timeTakeovers(state, home, host, bench::armOf(clips));
    } else {
        bench::timeTakeovers(state, home, host, bench::armOf(clips), &oneClip);
    }
}
// The clip count: one, then the most one drag carries, in the same run.
BENCHMARK(Takeover)->Arg(1)->Arg(16)->Iterations(40)->UseManualTime()->Unit(
    benchmark::kMillisecond);

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
