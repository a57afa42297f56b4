// Part of host_process_bench. HostileFrame/<shape>: one 20 MiB frame of a shape that holds
// nothing but values outside the payload (or, for payloads_repeated, a "midiBase64" repeated
// two hundred times, each replacing the one before; for blanks_at_the_limit, values that leave
// two bytes of the limit, then blanks to the end), written to a fresh host (no HELLO, as the
// first frame of a connection), timed until the reply. The baseline, measured in the same run: a
// valid 16 MiB PREPARE to a fresh host greeted with HELLO. Counters: peak_rss_per_frame (the host's
// VmHWM over the frame's bytes), peak_mib, reply_ms, and time_vs_prepare (the medians' quotient;
// a hostile frame should cost no more than that PREPARE).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/json/object.hpp>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge_core/base64.h"
#include "bridge_core/files.h"
#include "bridge_core/framing.h"
#include "bridge_core/hashing.h"
#include "bridge_core/json_writer.h"
#include "bridge_core/subprocess.h"
#include "support/temporary_directory.h"
#include "test_peer/frame_collector.h"
#include "test_peer/midi_clip.h"

namespace quenra {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t hostileBytes = 20 << 20;
constexpr std::size_t clipBytes = 16 << 20;
// A payload text of each repeated "midiBase64": 96 KiB, whose 72 KiB of clip pass the point
// from which a payload's reader makes room for the largest clip the frame could hold.
constexpr std::size_t payloadTextBytes = 96 << 10;

// A frame body of exactly hostileBytes: head, unit repeated, tail (a separator between units).
std::string filled(const std::string& head, const std::string& unit, const std::string& separator,
                   const std::string& tail) {
    std::string body = head;
    const std::size_t step = unit.size() + separator.size();
    while (body.size() + step + unit.size() + tail.size() <= hostileBytes) {
        body += unit + separator;
    }
    body += unit;
    body.append(hostileBytes - body.size() - tail.size(), ' ');
    return body + tail;
}

std::string hostileBody(std::int64_t shape) {
    switch (shape) {
        case 0:
            return filled(R"({"type":"HELLO","a":[)", "0", ",", "]}");
        case 1:
            return filled(R"({"type":"HELLO","a":[)", "{}", ",", "]}");
        case 2:
            return filled(R"({"type":"HELLO",)", R"("a":0)", ",", "}");
        case 3:
            return R"({"type":"HELLO","b":0,"a":")" +
                   std::string(
                       hostileBytes - std::string(R"({"type":"HELLO","b":0,"a":""})").size(), 'x') +
                   R"("})";
        case 4:
            // Each payload replaces the one before it, as a later duplicate key does.
            return filled(R"({"type":"HELLO",)",
                          R"("midiBase64":")" + std::string(payloadTextBytes, 'A') + R"(")", ",",
                          "}");
        default: {
            // Values within two bytes of the limit, then nothing but blanks.
            const std::string head = R"({"type":"HELLO","a":")" + std::string(65524, 'x') + R"(")";
            return head + std::string(hostileBytes - head.size() - 1, ' ') + "}";
        }
    }
}

const char* const shapeNames[] = {"zeros",       "empty_objects",     "one_key_repeated",
                                  "long_string", "payloads_repeated", "blanks_at_the_limit"};

std::string requestText(const char* type, const char* requestId, boost::json::object body) {
    body["protocolVersion"] = "1.0";
    body["requestId"] = requestId;
    body["session"] = boost::json::object{{"id", "bench-session-000001"}, {"epoch", 1}};
    body["type"] = type;
    return JsonWriter::write(body).value();
}

// A fresh host over pipes, as Chrome starts it, in a home of its own.
class FreshHost {
  public:
    FreshHost() {
        Files::Pipe input = Files::openPipe();
        Files::Pipe output = Files::openPipe();
        const std::string home = folder_.path();
        pid_ =
            Subprocess::start(std::string(QUENRA_BUNDLE_EXECUTABLES) + "/quenra-native-host",
                              {"chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/"},
                              std::vector<std::string>{"HOME=" + home, "XDG_RUNTIME_DIR=" + home},
                              {.input = input.reading.get(), .output = output.writing.get()});
        input_ = std::move(input.writing);
        output_ = std::move(output.reading);
    }
    ~FreshHost() {
        input_.reset();
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }

    // Writes one frame and returns the type of the reply.
    std::string exchange(const std::string& body) {
        Files::writeAll(input_.get(), FrameEncoder::frame(body));
        std::vector<TestPeer::Decoded> decoded;
        while (decoded.empty()) {
            std::uint8_t chunk[65536];
            const ssize_t count = ::read(output_.get(), chunk, sizeof chunk);
            if (count <= 0)
                throw std::runtime_error("the host ended its output");
            decoded = decoder_.append(std::span(chunk, static_cast<std::size_t>(count)));
        }
        const ByteBuffer& first = std::get<ByteBuffer>(decoded.front());
        const std::string reply(first.begin(), first.end());
        const std::size_t type = reply.find(R"("type":")");
        return reply.substr(type + 8, reply.find('"', type + 8) - type - 8);
    }

    std::int64_t peakResident() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("VmHWM:"))
                return std::stoll(line.substr(6)) * 1024;
        }
        throw std::runtime_error("no VmHWM for the host");
    }

  private:
    testing::TemporaryDirectory folder_;
    int pid_ = -1;
    Descriptor input_;
    Descriptor output_;
    TestPeer::FrameCollector decoder_;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double prepareSeconds() {
    const std::vector<std::uint8_t> clip = TestPeer::MidiClip::generate(clipBytes);
    const std::string prepare = requestText("PREPARE", "prepare-1",
                                            {{"clipId", "bench-clip"},
                                             {"generation", 1},
                                             {"byteLength", static_cast<std::int64_t>(clipBytes)},
                                             {"sha256", Hashing::sha256Hex(clip)},
                                             {"midiBase64", Base64::encode(clip)},
                                             {"suggestedName", "Bench Clip"}});
    FreshHost host;
    host.exchange(requestText("HELLO", "hello-1", {{"extensionVersion", "1.0"}}));
    const Clock::time_point start = Clock::now();
    if (host.exchange(prepare) != "PREPARED")
        throw std::runtime_error("the baseline PREPARE was refused");
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void HostileFrame(benchmark::State& state) {
    const std::string body = hostileBody(state.range(0));
    state.SetLabel(shapeNames[state.range(0)]);
    std::vector<double> replies, prepares;
    std::int64_t peak = 0;
    for (auto _ : state) {
        {
            FreshHost host;
            const Clock::time_point start = Clock::now();
            const std::string type = host.exchange(body);
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            if (type != "ERROR") {
                state.SkipWithError(("a hostile frame answered " + type).c_str());
                break;
            }
            peak = std::max(peak, host.peakResident());
            state.SetIterationTime(elapsed);
            replies.push_back(elapsed);
        }
        prepares.push_back(prepareSeconds());
    }
    if (replies.empty())
        return;
    state.counters["peak_rss_per_frame"] = static_cast<double>(peak) / hostileBytes;
    state.counters["peak_mib"] = static_cast<double>(peak) / (1 << 20);
    state.counters["reply_ms"] = median(replies) * 1000;
    state.counters["prepare_ms"] = median(prepares) * 1000;
    state.counters["time_vs_prepare"] = median(replies) / median(prepares);
}
BENCHMARK(HostileFrame)
    ->DenseRange(0, 5)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenra
