// The audio check over long files fed in 16 MiB pieces, as an upload's chunks arrive, against a
// floor measured in the same run: a plain loop that reads every byte of the same file once.
// WAV is a few chunk headers however long the file; MP3 is a header every 417 bytes; FLAC is
// a CRC-16 over every byte, since its frames say not how long they are.
#include <benchmark/benchmark.h>

#include <cstring>
#include <iostream>
#include <map>

#include "bridge_core/audio_file.h"
#include "support/audio_samples.h"

namespace quenra {
namespace {

using namespace testing::AudioSamples;

constexpr std::size_t pieceBytes = std::size_t{16} << 20;

const ByteBuffer& sample(AudioFormat format) {
    static const std::map<AudioFormat, ByteBuffer> samples = {
        // 64 MiB of 16-bit stereo: about six minutes at 44.1 kHz.
        {AudioFormat::wav, wavFile(WavFormat{}, (std::size_t{64} << 20) / 4)},
        // 160,000 frames of 128 kbit/s: about 70 minutes, 67 MB.
        {AudioFormat::mp3, mp3Frames(160000)},
        // 4,000 frames of 4096 stereo samples stored verbatim: 66 MB.
        {AudioFormat::flac, flacFileOf(4000, 4096, true)},
    };
    return samples.at(format);
}

void check(benchmark::State& state, AudioFormat format) {
    const ByteBuffer& bytes = sample(format);
    for (auto _ : state) {
        AudioFileCheck check(format, bytes.size());
        for (std::size_t offset = 0; offset < bytes.size(); offset += pieceBytes) {
            check.feed(
                ByteView(bytes).subspan(offset, std::min(pieceBytes, bytes.size() - offset)));
        }
        const AudioVerdict verdict = check.finish();
        if (!verdict.accepted()) {
            state.SkipWithError("the sample was refused");
        }
        benchmark::DoNotOptimize(verdict);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// Every byte read once, eight at a time.
void floorLoop(benchmark::State& state, AudioFormat format) {
    const ByteBuffer& bytes = sample(format);
    for (auto _ : state) {
        std::uint64_t folded = 0;
        std::size_t offset = 0;
        for (; offset + 8 <= bytes.size(); offset += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + offset, 8);
            folded ^= word;
        }
        for (; offset < bytes.size(); ++offset) {
            folded ^= bytes[offset];
        }
        benchmark::DoNotOptimize(folded);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// Keeps each run's mean real time so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration) {
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace
}  // namespace quenra

int main(int argc, char** argv) {
    using namespace quenra;
    const AudioFormat formats[] = {AudioFormat::wav, AudioFormat::mp3, AudioFormat::flac};
    for (const AudioFormat format : formats) {
        const std::string name(AudioFile::wireName(format));
        benchmark::RegisterBenchmark(("floor/" + name).c_str(), floorLoop, format)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("check/" + name).c_str(), check, format)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const AudioFormat format : formats) {
        const std::string name(AudioFile::wireName(format));
        const auto floorTime = reporter.times.find("floor/" + name);
        const auto checkTime = reporter.times.find("check/" + name);
        if (floorTime != reporter.times.end() && checkTime != reporter.times.end()) {
            std::cout << "check/floor for " << name << " of " << sample(format).size()
                      << " bytes: " << checkTime->second / floorTime->second << " (real time)\n";
        }
    }
    benchmark::Shutdown();
}
