// The cost of accepting a PREPARE (reading its frame in 64 KiB pieces as the host does, which
// parses, decodes and hashes; then the payload checks) against a floor measured in the same
// run: copying the base64 text once and hashing the clip once.
// The decoded clip is a fresh buffer of its size in every request; with glibc's default
// thresholds it is a fresh mapping every time, and its page faults are part of the figure.
#include <benchmark/benchmark.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cstring>
#include <iostream>
#include <map>
#include <random>

#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "bridge_core/midi_payload.h"
#include "bridge_core/request_parser.h"
#include "bridge_core/request_reader.h"

namespace quenra {
namespace {

struct Fixture {
    std::vector<std::uint8_t> clip;
    std::string base64;
    std::string request;
};

// A valid one-track file of exactly size bytes with random event bytes.
std::vector<std::uint8_t> clipOfSize(std::size_t size) {
    std::vector<std::uint8_t> clip{'M', 'T', 'h', 'd', 0,  0,   0,   6,   0,
                                   0,   0,   1,   0,   96, 'M', 'T', 'r', 'k'};
    const auto length = static_cast<std::uint32_t>(size - 22);
    for (const int shift : {24, 16, 8, 0}) {
        clip.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    std::mt19937 random(42);
    while (clip.size() < size - 3) {
        clip.push_back(static_cast<std::uint8_t>(random()));
    }
    clip.insert(clip.end(), {0xFF, 0x2F, 0x00});
    return clip;
}

const Fixture& fixture(std::size_t size) {
    static std::map<std::size_t, Fixture> fixtures;
    auto found = fixtures.find(size);
    if (found == fixtures.end()) {
        Fixture made;
        made.clip = clipOfSize(size);
        made.base64 = Base64::encode(made.clip);
        const boost::json::object request{
            {"protocolVersion", "1.0"},
            {"session", {{"id", "session_ABCDEF-0123"}, {"epoch", 3}}},
            {"requestId", "req-1"},
            {"type", "PREPARE"},
            {"clipId", "clip_1"},
            {"generation", 1},
            {"sha256", Hashing::sha256Hex(made.clip)},
            {"byteLength", made.clip.size()},
            {"midiBase64", made.base64},
            {"suggestedName", "Bench clip"}};
        made.request = boost::json::serialize(request);
        found = fixtures.emplace(size, std::move(made)).first;
    }
    return found->second;
}

void floor(benchmark::State& state) {
    const Fixture& data = fixture(static_cast<std::size_t>(state.range(0)));
    std::string copy(data.base64.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), data.base64.data(), data.base64.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::DoNotOptimize(Hashing::sha256(data.clip));
        benchmark::ClobberMemory();
    }
}

// The frame in the pieces that 64 KiB reads give.
ReadRequest readInPieces(std::string_view frame) {
    RequestReader reader(frame.size());
    for (std::size_t offset = 0; offset < frame.size(); offset += 65536) {
        reader.append(frame.substr(offset, 65536));
    }
    return reader.finish();
}

void prepare(benchmark::State& state) {
    const Fixture& data = fixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ReadRequest read = readInPieces(data.request);
        const auto& request = std::get<PrepareRequest>(std::get<HostRequest>(read).body);
        MIDIPayload::check(request);
        benchmark::DoNotOptimize(request.midiBase64.bytes().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.request.size()));
}

// Stages alone, for comparison: the frame parsed whole into a JSON value with its base64 text,
// and the base64 decode.
void parseOnly(benchmark::State& state) {
    const Fixture& data = fixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(boost::json::parse(data.request));
    }
}

void base64Only(benchmark::State& state) {
    const Fixture& data = fixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Base64::decode(data.base64));
    }
}

// A frame of the largest size made of one member over and over: many "midiBase64" strings
// must cost about what as many other members cost (Arg 1), not a buffer or a thread each.
std::string repeatedMembers(std::string_view member) {
    std::string frame = "{";
    while (frame.size() + member.size() < 25000000) {
        frame += member;
    }
    return frame + "\"x\":1}";
}

void manyMembers(benchmark::State& state) {
    static const std::string payloads = repeatedMembers("\"midiBase64\":\"\",");
    static const std::string others = repeatedMembers("\"midiBase6\":\"\",");
    const std::string& frame = state.range(0) == 0 ? payloads : others;
    for (auto _ : state) {
        benchmark::DoNotOptimize(readInPieces(frame));
    }
}

constexpr std::int64_t sizes[] = {1024, 1 << 20, 16 << 20};

// Keeps each run's mean real time so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                times[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> times;  // real, CPU
};

}  // namespace
}  // namespace quenra

int main(int argc, char** argv) {
    using namespace quenra;
    for (const std::int64_t size : sizes) {
        benchmark::RegisterBenchmark("floor", floor)->Arg(size)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("prepare", prepare)->Arg(size)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("parse", parseOnly)->Arg(size)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("base64", base64Only)
            ->Arg(size)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("members", manyMembers)
        ->Arg(0)
        ->Arg(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const std::int64_t size : sizes) {
        const std::string suffix = "/" + std::to_string(size);
        const auto floorTime = reporter.times.find("floor" + suffix);
        const auto prepareTime = reporter.times.find("prepare" + suffix);
        if (floorTime != reporter.times.end() && prepareTime != reporter.times.end()) {
            std::cout << "prepare/floor at " << size
                      << " bytes: " << prepareTime->second.first / floorTime->second.first
                      << " (real time), " << prepareTime->second.second / floorTime->second.second
                      << " (CPU time)\n";
        }
    }
    const auto payloads = reporter.times.find("members/0");
    const auto others = reporter.times.find("members/1");
    if (payloads != reporter.times.end() && others != reporter.times.end()) {
        std::cout << "a frame of empty payloads over one of other members: "
                  << payloads->second.first / others->second.first << " (real time)\n";
    }
    benchmark::Shutdown();
}
