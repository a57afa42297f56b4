// The cost of a create and of a sweep, each against the durability floor measured beside it in
// the same iterations: writing the clip into a fresh file with fsync, plus the two directory
// flushes a publication needs. Everything else a create does (the usage scan over existing
// entries, the record, the locks, the rename) is the cache's own overhead.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "bridge_core/cache.h"
#include "bridge_core/files.h"
#include "bridge_core/limits.h"
#include "support/temporary_directory.h"
#include "system_services/system_clock.h"
#include "system_services/system_random.h"

namespace quenra {
namespace {

constexpr std::size_t clipBytes = 16 * 1024;
const std::vector<std::uint8_t> clip(clipBytes, 0x90);
const std::string digest(64, 'f');

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One durable write of a clip-sized file into a fresh directory, as a create must at least do.
double measureFloor(const std::string& scratch, int round) {
    const std::string directory = scratch + "/floor-" + std::to_string(round);
    ::mkdir(directory.c_str(), 0700);
    const auto start = Clock::now();
    Files::writeNew(directory + "/clip.mid", clip);
    Files::flushDirectory(directory);
    Files::flushDirectory(scratch);
    const double seconds = secondsSince(start);
    Files::removeTree(directory);
    return seconds;
}

// A cache of its own holding entries unowned clips, and a scratch folder for the floor.
struct FilledCache {
    explicit FilledCache(std::int64_t entries)
        : cache(temporary.join("cache"), Limits::standard(), clock, random),
          scratch(temporary.join("scratch")) {
        for (std::int64_t index = 0; index < entries; ++index) {
            OwnedEntry entry = cache.create(clip, "Clip " + std::to_string(index) + ".mid", digest);
            cache.relinquish(entry);
        }
        ::mkdir(scratch.c_str(), 0700);
    }

    testing::TemporaryDirectory temporary;
    SystemClock clock;
    SystemRandom random;
    Cache cache;
    std::string scratch;
};

// Each iteration times the floor, then measured (the iteration's manual time) and then
// afterwards, untimed; reports the floor and the ratio of the two.
template <typename Measured, typename Afterwards>
void timeAgainstTheFloor(benchmark::State& state, const FilledCache& filled, Measured measured,
                         Afterwards afterwards) {
    double floorSeconds = 0;
    double measuredSeconds = 0;
    int round = 0;
    for (auto _ : state) {
        floorSeconds += measureFloor(filled.scratch, round++);
        const auto start = Clock::now();
        auto result = measured();
        const double seconds = secondsSince(start);
        measuredSeconds += seconds;
        state.SetIterationTime(seconds);
        afterwards(result);
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["floor_ms"] = 1e3 * floorSeconds / iterations;
    state.counters["ratio"] = measuredSeconds / floorSeconds;
}

void createWithEntriesPresent(benchmark::State& state) {
    FilledCache filled(state.range(0));
    timeAgainstTheFloor(
        state, filled, [&] { return filled.cache.create(clip, "Bench.mid", digest); },
        [&](OwnedEntry& entry) { filled.cache.deleteEntry(entry); });
}
BENCHMARK(createWithEntriesPresent)
    ->Arg(0)
    ->Arg(512)
    ->Arg(1023)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The usage scan alone: what each present entry adds to a create.
void usageScan(benchmark::State& state) {
    FilledCache filled(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(filled.cache.usage());
    }
}
BENCHMARK(usageScan)->Arg(1023)->Unit(benchmark::kMillisecond);

// A sweep that judges 1024 unowned entries and keeps them all (nothing has expired).
void sweepOverEntries(benchmark::State& state) {
    FilledCache filled(state.range(0));
    timeAgainstTheFloor(
        state, filled, [&] { return filled.cache.sweep(); },
        [&](const SweepReport& swept) {
            if (swept.kept != state.range(0)) {
                state.SkipWithError("the sweep did not judge every entry");
            }
        });
}
BENCHMARK(sweepOverEntries)->Arg(1024)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenra

BENCHMARK_MAIN();
