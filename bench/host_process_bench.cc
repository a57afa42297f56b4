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
// RecordsFloor/16: the floor of Takeover's over_one_clip_ms: the durable rewrite of one record
// and of sixteen, done the plainest fast way with library calls (count_over_one_ms).
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
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_host.h"
#include "bridge_core/base64.h"
#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/hashing.h"
#include "system_services/system_clock.h"
#include "system_services/system_random.h"

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
using bench::median;
using bench::Program;
using bench::request;
using bench::Run;
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

void Prepare(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    Home home;
    const std::vector<std::uint8_t> clip = clipOfSize(size);
    const ByteBuffer frame = framed(prepareRequest(clip));
    bench::HostAndFloor runs;
    if (!runs.run(state, home, floorProgram(home),
                  [&](Host& process) { process.exchange(frame, "PREPARED"); })) {
        return;
    }
    const double frameBytes = static_cast<double>(frame.size());
    state.counters["host_ms"] = runs.host(&Run::requests) * 1000;
    state.counters["floor_ms"] = runs.floor(&Run::requests) * 1000;
    state.counters["prepare_ratio"] = runs.ratio(&Run::requests);
    state.counters["host_process_ms"] = runs.host(&Run::process) * 1000;
    state.counters["floor_process_ms"] = runs.floor(&Run::process) * 1000;
    state.counters["process_ratio"] = runs.ratio(&Run::process);
    state.counters["start_ms"] = runs.host(&Run::start) * 1000;
    state.counters["floor_start_ms"] = runs.floor(&Run::start) * 1000;
    state.counters["cpu_ratio"] = runs.ratio(&Run::processorTime);
    state.counters["host_faults"] = runs.host(&Run::faults);
    state.counters["floor_faults"] = runs.floor(&Run::faults);
    state.counters["peak_rss_per_frame"] = runs.host(&Run::peak) / frameBytes;
    state.counters["floor_peak_per_frame"] = runs.floor(&Run::peak) / frameBytes;
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

// What any host must do before it may claim a drag of count clips, done the plainest fast way
// with library calls: each record (as large as a cache record) written to a new file beside the
// one it replaces in a folder of its own, the files flushed four at a time, each renamed over its
// record, the folders flushed four at a time. The medians of one and of count records in the
// same run; count_over_one_ms is the floor's own share of Takeover's over_one_clip_ms, which the
// disk's flushes decide.
void durableRewrites(const std::vector<std::string>& folders, int round) {
    const std::string record(300, 'r');
    // Four flushes in flight, each thread taking every fourth record.
    const auto atOnce = [&](const std::function<void(std::size_t)>& work) {
        const auto lane = [&](std::size_t first) {
            for (std::size_t index = first; index < folders.size(); index += 4)
                work(index);
        };
        std::vector<std::thread> threads;
        for (std::size_t first = 1; first < std::min<std::size_t>(4, folders.size()); ++first)
            threads.emplace_back(lane, first);
        lane(0);
        for (std::thread& thread : threads)
            thread.join();
    };
    std::vector<int> files;
    for (const std::string& folder : folders) {
        const std::string temporary = folder + "/.record." + std::to_string(round);
        const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (file < 0 || ::write(file, record.data(), record.size()) != std::ssize(record))
            fail("record");
        files.push_back(file);
    }
    atOnce([&](std::size_t index) { ::fsync(files[index]); });
    for (std::size_t index = 0; index < folders.size(); ++index) {
        const std::string temporary = folders[index] + "/.record." + std::to_string(round);
        if (::rename(temporary.c_str(), (folders[index] + "/entry.json").c_str()) != 0)
            fail("rename");
        ::close(files[index]);
    }
    atOnce([&](std::size_t index) {
        const int folder = ::open(folders[index].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(folder);
        ::close(folder);
    });
}

void RecordsFloor(benchmark::State& state) {
    Home home;
    const auto foldersFor = [&](int count) {
        std::vector<std::string> folders;
        for (int index = 0; index < count; ++index) {
            folders.push_back(home.path + "/" + std::to_string(count) + "-" +
                              std::to_string(index));
            Files::createDirectories(folders.back(), 0700);
        }
        return folders;
    };
    const std::vector<std::string> one = foldersFor(1);
    const std::vector<std::string> many = foldersFor(static_cast<int>(state.range(0)));
    std::vector<double> ones;
    std::vector<double> manys;
    int round = 0;
    for (auto _ : state) {
        ::sync();
        Clock::time_point started = Clock::now();
        durableRewrites(one, ++round);
        ones.push_back(seconds(Clock::now() - started));
        started = Clock::now();
        durableRewrites(many, round);
        manys.push_back(seconds(Clock::now() - started));
        state.SetIterationTime(manys.back());
    }
    state.counters["one_ms"] = median(ones) * 1000;
    state.counters["count_ms"] = median(manys) * 1000;
    state.counters["count_over_one_ms"] = (median(manys) - median(ones)) * 1000;
}
BENCHMARK(RecordsFloor)->Arg(16)->Iterations(40)->UseManualTime()->Unit(benchmark::kMillisecond);

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
