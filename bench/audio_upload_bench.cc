// Audio clips taken in chunks by the whole host process, against a floor measured in the same
// run.
//
// Upload/<bytes>: a WAV of that size sent as UPLOAD and chunks of chunkMaxBytes (16 MiB: four
// for 64 MiB, 32 for 512 MiB), each chunk written once UPLOADING has answered the one before,
// timed from writing UPLOAD until PREPARED is read. The host against the floor
// (audio_upload_floor.c), a plain C program that reads the same frames whole, decodes each
// chunk with OpenSSL, hashes it and writes it, and at the end flushes the file and stores it
// the durable way the cache does. Both are started the same way over pipes, as Chrome starts a
// host, and answer HELLO untimed; each iteration runs both, alternating which goes first, the
// file system synced before each. Counters (medians): host_ms, floor_ms, upload_ratio (their
// quotient; the goal is at most 1.2), cpu_ratio (user and system time of the whole process),
// peak_mib (the host's VmHWM after PREPARED), peak_per_frame (that over one chunk's frame),
// peak_over_goal (that over 1.1 × the chunk's frame + 12 MiB; the goal is at most 1), and
// floor_peak_per_frame.
//
// Takeover/<clips>: one armed host with one small MIDI clip, or a list of sixteen, as in
// host_process_bench: the time from a browser drag on the board until the host's claim is on it.
// AudioTakeover/16: the same with sixteen clips in one list, four WAVs of 1 GiB (all the audio
// room a cache has, so the rest are small MIDI clips); over_one_clip_ms is its median less
// Takeover/1's (the goal is at most 2 ms), over_midi_clips_ms its median less Takeover/16's
// (what the audio adds), arm_ratio its ARM over Takeover/1's (the ARM makes the library's
// files).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_host.h"
#include "bridge_core/base64.h"
#include "bridge_core/hashing.h"
#include "support/audio_samples.h"
#include "test_peer/midi_clip.h"

namespace quenra {
namespace {

namespace Samples = testing::AudioSamples;
using bench::BoardDrags;
using bench::framed;
using bench::hello;
using bench::Home;
using bench::Host;
using bench::Program;
using bench::request;
using bench::Run;

constexpr std::size_t chunkBytes = std::size_t{16} << 20;
constexpr std::size_t uploadIdLength = 32;
const std::string floorPath = QUENRA_AUDIO_UPLOAD_FLOOR;

Program floorProgram(const Home& home) {
    return {floorPath, {home.path}};
}

// A 16-bit stereo WAV of exactly size bytes (a whole number of frames after its header), its
// samples varying.
ByteBuffer wavOfSize(std::size_t size) {
    const std::size_t header = 44;
    const std::size_t data = (size - header) / 4 * 4;
    ByteBuffer wav = Samples::join({Samples::text("RIFF"), Samples::little(data + header - 8, 4),
                                    Samples::text("WAVE"),
                                    Samples::riffChunk("fmt ", Samples::wavFormatBody({})),
                                    Samples::text("data"), Samples::little(data, 4)});
    wav.resize(header + data);
    std::uint32_t state = 1;
    for (std::size_t index = header; index < wav.size(); ++index) {
        state = state * 1103515245u + 12345u;
        wav[index] = static_cast<std::uint8_t>(state >> 16);
    }
    return wav;
}

std::string uploadRequest(const ByteBuffer& wav, const std::string& sha256,
                          const std::string& clipId, const std::string& name) {
    return request("UPLOAD", ("upload-" + clipId).c_str(),
                   {{"clipId", clipId},
                    {"generation", 1},
                    {"sha256", sha256},
                    {"byteLength", static_cast<std::int64_t>(wav.size())},
                    {"suggestedName", name},
                    {"format", "wav"}});
}

// The frame of the chunk of wav at offset, for the clip named, naming an upload id of 32
// placeholder characters that uploadTo fills in.
ByteBuffer chunkFrame(const ByteBuffer& wav, std::size_t offset, const std::string& clipId) {
    const std::size_t count = std::min(chunkBytes, wav.size() - offset);
    return framed(request("UPLOAD_CHUNK", (clipId + "-" + std::to_string(offset)).c_str(),
                          {{"uploadId", std::string(uploadIdLength, '?')},
                           {"offset", static_cast<std::int64_t>(offset)},
                           {"dataBase64", Base64::encode(wav.data() + offset, count)}}));
}

// Puts the upload id in place of a chunk frame's placeholder (its keys are written in order,
// so "uploadId" is the last member).
void nameUpload(ByteBuffer& frame, std::string_view uploadId) {
    if (uploadId.size() != uploadIdLength) {
        throw std::runtime_error("an upload id of " + std::to_string(uploadId.size()) +
                                 " characters");
    }
    std::copy(uploadId.begin(), uploadId.end(), frame.end() - 2 - uploadIdLength);
}

// Sends an upload and its chunks, each once the one before is answered; the PREPARED.
boost::json::object uploadTo(Host& host, const std::string& upload,
                             std::vector<ByteBuffer>& chunks) {
    const boost::json::object started = host.exchange(upload, "UPLOADING");
    const std::string uploadId(started.at("uploadId").as_string());
    for (std::size_t index = 0; index < chunks.size(); ++index) {
        nameUpload(chunks[index], uploadId);
        const bool last = index + 1 == chunks.size();
        const boost::json::object reply =
            host.exchange(chunks[index], last ? "PREPARED" : "UPLOADING");
        if (last) {
            return reply;
        }
    }
    throw std::runtime_error("an upload of no chunks");
}

void Upload(benchmark::State& state) {
    Home home;
    const ByteBuffer wav = wavOfSize(static_cast<std::size_t>(state.range(0)));
    const std::string upload = uploadRequest(wav, Hashing::sha256Hex(wav), "loop", "Bench Loop");
    std::vector<ByteBuffer> chunks;
    for (std::size_t offset = 0; offset < wav.size(); offset += chunkBytes) {
        chunks.push_back(chunkFrame(wav, offset, "loop"));
    }
    bench::HostAndFloor runs;
    if (!runs.run(state, home, floorProgram(home),
                  [&](Host& process) { uploadTo(process, upload, chunks); })) {
        return;
    }
    const double frameBytes = static_cast<double>(chunks.front().size());
    const double peak = runs.host(&Run::peak);
    state.counters["host_ms"] = runs.host(&Run::requests) * 1000;
    state.counters["floor_ms"] = runs.floor(&Run::requests) * 1000;
    state.counters["upload_ratio"] = runs.ratio(&Run::requests);
    state.counters["cpu_ratio"] = runs.ratio(&Run::processorTime);
    state.counters["peak_mib"] = peak / (1 << 20);
    state.counters["peak_per_frame"] = peak / frameBytes;
    state.counters["peak_over_goal"] = peak / (1.1 * frameBytes + (12 << 20));
    state.counters["floor_peak_per_frame"] = runs.floor(&Run::peak) / frameBytes;
}
BENCHMARK(Upload)->Arg(64 << 20)->Iterations(9)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Upload)->Arg(512 << 20)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// A small MIDI clip prepared on the host, as a part of an ARM's list.
boost::json::object midiClip(Host& host, int number) {
    const std::vector<std::uint8_t> clip = TestPeer::MidiClip::generate(4096);
    const std::string name = "bench-clip-" + std::to_string(number);
    return bench::listed(
        host.exchange(request("PREPARE", ("prepare-" + name).c_str(),
                              {{"clipId", name},
                               {"generation", 1},
                               {"byteLength", static_cast<std::int64_t>(clip.size())},
                               {"sha256", Hashing::sha256Hex(clip)},
                               {"midiBase64", Base64::encode(clip)},
                               {"suggestedName", name}}),
                      "PREPARED"));
}

// A WAV uploaded to the host, its chunks made as they are sent (a gibibyte's frames made at once
// would be 1.4 GB), as a part of an ARM's list.
boost::json::object audioClip(Host& host, const ByteBuffer& wav, const std::string& sha256,
                              int number) {
    const std::string name = "bench-loop-" + std::to_string(number);
    const boost::json::object started =
        host.exchange(uploadRequest(wav, sha256, name, name), "UPLOADING");
    const std::string uploadId(started.at("uploadId").as_string());
    for (std::size_t offset = 0;; offset += chunkBytes) {
        ByteBuffer frame = chunkFrame(wav, offset, name);
        nameUpload(frame, uploadId);
        if (offset + chunkBytes >= wav.size()) {
            return bench::listed(host.exchange(frame, "PREPARED"));
        }
        host.exchange(frame, "UPLOADING");
    }
}

// Takeover's medians by clip count, which AudioTakeover is set against.
std::map<std::int64_t, BoardDrags::Times> midiTakeovers;

void Takeover(benchmark::State& state) {
    Home home;
    Host host(home);
    host.exchange(hello, "HELLO_OK");
    boost::json::array clips;
    for (int number = 1; number <= state.range(0); ++number) {
        bench::paceClip(number - 1);
        clips.push_back(midiClip(host, number));
    }
    midiTakeovers[state.range(0)] = bench::timeTakeovers(state, home, host, bench::armOf(clips));
}
BENCHMARK(Takeover)->Arg(1)->Arg(16)->Iterations(25)->UseManualTime()->Unit(
    benchmark::kMillisecond);

void AudioTakeover(benchmark::State& state) {
    // All the audio room of a cache: four clips of the most an upload may announce.
    constexpr int largeClips = 4;
    Home home;
    Host host(home);
    host.exchange(hello, "HELLO_OK");
    boost::json::array clips;
    try {
        const ByteBuffer large = wavOfSize(std::size_t{1} << 30);
        const std::string sha256 = Hashing::sha256Hex(large);
        for (int number = 1; number <= state.range(0); ++number) {
            bench::paceClip(number - 1);
            clips.push_back(number <= largeClips ? audioClip(host, large, sha256, number)
                                                 : midiClip(host, number));
        }
    } catch (const std::exception& failed) {
        state.SkipWithError(failed.what());
        return;
    }
    // The 4 GiB just stored would still be on their way to the disk, and every flush of the
    // timed drags would wait behind them.
    ::sync();
    const BoardDrags::Times times =
        bench::timeTakeovers(state, home, host, bench::armOf(clips), &midiTakeovers[1]);
    if (times.claim > 0 && midiTakeovers[16].claim > 0) {
        state.counters["over_midi_clips_ms"] = (times.claim - midiTakeovers[16].claim) * 1000;
    }
}
BENCHMARK(AudioTakeover)->Arg(16)->Iterations(25)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenra

BENCHMARK_MAIN();
