// What an armed host pays every 5 ms on the Linux drag board: an idle tick (no change: one clock
// read and one change-count read), and a tick on a new count that must read the type list (a
// copy by another application) or also the text (Chrome's drag with another marker). The
// baseline is one stat of the count file; compare the ratios, not the times, on a busy machine.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <time.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cstdlib>
#include <filesystem>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "bridge_core/host_session.h"
#include "bridge_core/limits.h"
#include "platform/platform.h"
#include "support/read_request.h"
#include "support/temporary_directory.h"
#include "system_services/linux/drag_board.h"
#include "system_services/system_clock.h"
#include "system_services/system_random.h"

namespace quenra {
namespace {

constexpr double pollInterval = 0.005;

double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// CPU seconds of one stat of the board's count file, measured beside each case so that the
// ratio holds on a busy machine.
double baselineSeconds(const std::string& countFile) {
    constexpr int rounds = 20000;
    const double start = threadCpuSeconds();
    for (int round = 0; round < rounds; ++round) {
        struct stat status {};
        benchmark::DoNotOptimize(::stat(countFile.c_str(), &status));
    }
    return (threadCpuSeconds() - start) / rounds;
}

// Runs one tick per iteration and reports its CPU cost as the share of a core that a poll
// every 5 ms takes, and as a multiple of the baseline.
template <class Tick>
void measure(benchmark::State& state, const std::string& countFile, Tick&& tick) {
    const double baseline = baselineSeconds(countFile);
    const double start = threadCpuSeconds();
    for (auto _ : state) {
        tick();
    }
    const double perTick = (threadCpuSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["corePercentAt5ms"] = perTick / pollInterval * 100;
    state.counters["timesBaseline"] = perTick / baseline;
}

struct ArmedHost {
    ArmedHost() {
        limits.armLease = 1e9;  // never expires while measured
        folder = std::make_shared<const DragBoardFolder>(root + "/board");
        board = std::make_unique<FileDragBoard>(folder);
        mouse = std::make_unique<FileMouseButtons>(folder);
        cache = std::make_unique<Cache>(root + "/cache", limits, clock, random);
        session = std::make_unique<HostSession>(HostSession::Environment{
            *cache, *board, *mouse, clock, random, limits, Platform{"15.1.0", "arm64", "macOS"}});
        copyByAnotherApplication();

        const std::vector<std::uint8_t> midi = {'M', 'T', 'h', 'd', 0,    0,    0,    6,   0,
                                                0,   0,   1,   0,   0x60, 'M',  'T',  'r', 'k',
                                                0,   0,   0,   4,   0,    0xFF, 0x2F, 0};
        const std::string sha = Hashing::sha256Hex(midi);
        const boost::json::object envelope = {
            {"protocolVersion", "1.0"},
            {"session", {{"id", "benchSession0000000"}, {"epoch", 1}}},
        };
        send(envelope, {{"type", "HELLO"}, {"requestId", "1"}, {"extensionVersion", "1.0"}});
        const boost::json::object prepared =
            send(envelope, {{"type", "PREPARE"},
                            {"requestId", "2"},
                            {"clipId", "c"},
                            {"generation", 1},
                            {"byteLength", static_cast<std::int64_t>(midi.size())},
                            {"sha256", sha},
                            {"midiBase64", Base64::encode(midi)},
                            {"suggestedName", "Bench"}});
        send(envelope, {{"type", "ARM"},
                        {"requestId", "3"},
                        {"preparedId", prepared.at("preparedId")},
                        {"clipId", "c"},
                        {"generation", 1},
                        {"sha256", sha}});
        if (!session->isWatching()) {
            std::abort();
        }
    }
    ~ArmedHost() { session->shutdown(); }

    boost::json::object send(const boost::json::object& envelope, boost::json::object request) {
        for (const auto& member : envelope) {
            request[member.key()] = member.value();
        }
        const std::string text = boost::json::serialize(request);
        const std::vector<std::string> replies = session->receive(testing::readRequest(text));
        return boost::json::parse(replies.at(0)).as_object();
    }

    void copyByAnotherApplication() {
        board->update([](DragBoardState& state) {
            state.declareTypes({PasteboardType::plainText});
            state.setString(PasteboardType::plainText, "copied text");
        });
    }

    void chromeDragWithAnotherMarker() {
        board->update([](DragBoardState& state) {
            state.declareTypes({PasteboardType::chromiumDrag, PasteboardType::plainText});
            state.setString(PasteboardType::plainText,
                            "QNR_DAW_DRAG/v1/someoneElse00000/AAAAAAAAAAAAAAAAAAAAAA");
        });
    }

    std::string countFile() const { return root + "/board/change-count"; }

    testing::TemporaryDirectory temporary;
    std::string root = temporary.path();
    Limits limits = Limits::standard();
    SystemClock clock;
    SystemRandom random;
    std::shared_ptr<const DragBoardFolder> folder;
    std::unique_ptr<FileDragBoard> board;
    std::unique_ptr<FileMouseButtons> mouse;
    std::unique_ptr<Cache> cache;
    std::unique_ptr<HostSession> session;
};

void BM_BaselineStatOfTheCountFile(benchmark::State& state) {
    ArmedHost host;
    const std::string path = host.countFile();
    measure(state, path, [&] {
        struct stat status {};
        benchmark::DoNotOptimize(::stat(path.c_str(), &status));
    });
}
BENCHMARK(BM_BaselineStatOfTheCountFile);

void BM_IdleTick(benchmark::State& state) {
    ArmedHost host;
    measure(state, host.countFile(), [&] { benchmark::DoNotOptimize(host.session->tick()); });
    if (!host.session->isWatching()) {
        state.SkipWithError("the drag ended while idle");
    }
}
BENCHMARK(BM_IdleTick);

// The poll itself on a count it has not dealt with: the session's tick adds only a switch on
// the outcome. Forgetting the count each time makes every iteration read the board again.
void pollNewCount(benchmark::State& state, ArmedHost& host) {
    // A copy of the session's drag, holding a lease of its own on another lock file.
    const ArmedDrag& armed = *host.session->armed();
    std::optional<ArmLease> lease = ArmLease::acquire(host.root + "/bench.lock");
    if (!lease) {
        std::abort();
    }
    const auto drag = std::make_unique<ArmedDrag>(armed.token, armed.marker, armed.clips,
                                                  armed.isList, std::move(*lease), RecordBatch{},
                                                  armed.deadline, armed.lastSeen);
    const std::int64_t before = drag->lastSeen;
    const HostSession::Environment environment{*host.cache, *host.board, *host.mouse, host.clock,
                                               host.random, host.limits, Platform{}};
    measure(state, host.countFile(), [&] {
        drag->lastSeen = before;
        benchmark::DoNotOptimize(Takeover::poll(*drag, environment));
    });
}

void BM_TickReadingTypes(benchmark::State& state) {
    ArmedHost host;
    host.copyByAnotherApplication();
    pollNewCount(state, host);
}
BENCHMARK(BM_TickReadingTypes);

void BM_TickReadingTypesAndText(benchmark::State& state) {
    ArmedHost host;
    host.chromeDragWithAnotherMarker();
    pollNewCount(state, host);
}
BENCHMARK(BM_TickReadingTypesAndText);

}  // namespace
}  // namespace quenra

BENCHMARK_MAIN();
