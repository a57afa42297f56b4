#include "native_host/input_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "bridge_core/files.h"
#include "support/captured_standard_error.h"
#include "support/replaced_allocation.h"

namespace quenra {
namespace {

namespace faults = testing::AllocationFaults;

// Records what the reader hands over.
class RecordingSession final : public ServedSession {
  public:
    std::vector<std::string> receive(const FrameDecoder::Item&) override {
        handed.push_back("item");
        return {};
    }
    std::vector<std::string> receive(ReadRequest request) override {
        const auto* refused = std::get_if<RefusedRequest>(&request);
        handed.push_back(refused ? "refused: " + refused->failure.detail
                                 : "request " + std::get<HostRequest>(request).requestId);
        return {};
    }
    std::vector<std::string> settle() override { return {}; }
    bool isUnsettled() const override { return false; }
    std::vector<std::string> tick() override { return {}; }
    bool isWatching() const override { return false; }
    void sweep() override {}
    void shutdown() override { handed.push_back("shutdown"); }

    std::vector<std::string> handed;
};

// The reader thread over a pipe that carries frames, until the connection ends; the loop runs
// here meanwhile.
struct Reading {
    explicit Reading(const std::vector<std::string>& bodies) {
        for (const std::string& body : bodies) {
            const ByteBuffer frame = FrameEncoder::frame(body);
            input.append(frame.begin(), frame.end());
        }
    }

    void run() {
        Files::Pipe pipe = Files::openPipe();
        std::thread writer([&] {
            Files::writeAll(pipe.writing.get(), bytesOf(input));
            pipe.writing.reset();
        });
        // Keeps the loop running until the connection ends.
        const EventLoop::TimerId alive = loop.addRepeatingTimer(std::chrono::hours(1), [] {});
        Connection connection(loop, session,
                              Connection::Exits{
                                  [](std::span<const std::uint8_t>) { return true; },
                                  [&](int status) {
                                      exits.push_back(status);
                                      loop.cancelTimer(alive);
                                  },
                              });
        std::thread reader([&] {
            if (starved) {
                faults::starveThisThread();
            }
            InputReader::run(pipe.reading.get(), loop, connection, Limits::standard());
        });
        loop.run();
        reader.join();
        writer.join();
    }

    std::string input;
    bool starved = false;  // no allocation on the reader thread succeeds
    EventLoop loop;
    RecordingSession session;
    std::vector<int> exits;
};

std::string hello(const std::string& requestId) {
    return R"({"protocolVersion":"1.0","session":{"id":"session_ABCDEF-0123","epoch":3},)"
           R"("requestId":")" +
           requestId + R"(","type":"HELLO","extensionVersion":"1.0"})";
}

TEST(InputReader, AFrameWhoseReadingRunsOutOfMemoryIsAnsweredInternalAndReadingGoesOn) {
    // A clip of 384 KiB: past 64 KiB room for all of it is made at once, from the heap (larger
    // clips are mapped fresh from the system, which this test cannot make fail), and that fails.
    const std::string prepare = R"({"type":"PREPARE","midiBase64":")" +
                                std::string(512 << 10, 'A') + R"(","requestId":"prepare-1"})";
    Reading reading({hello("hello-1"), prepare, hello("hello-2")});
    faults::failFrom(256 << 10);
    reading.run();
    faults::clear();
    EXPECT_GT(faults::failed(), 0u);
    EXPECT_EQ(reading.session.handed,
              (std::vector<std::string>{"request hello-1", "refused: out of memory",
                                        "request hello-2", "shutdown"}));
    EXPECT_EQ(reading.exits, std::vector<int>{0});
}

TEST(InputReader, MemoryRunOutOutsideAFrameEndsTheConnectionWithItsLogLine) {
    Reading reading({hello("hello-1")});
    testing::CapturedStandardError error;
    // The reader's own 64 KiB buffer.
    faults::failFrom(InputReader::readSize);
    reading.run();
    faults::clear();
    EXPECT_EQ(error.text(), "quenra-native-host: out-of-memory\n");
    EXPECT_EQ(reading.session.handed, std::vector<std::string>{"shutdown"});
    EXPECT_EQ(reading.exits, std::vector<int>{1});
}

// The reader's last hand-off, the connection's ending, needs no memory of the reader thread: with
// none to be had there at all, the connection still ends on the main thread as out of memory.
TEST(InputReader, TheEndingIsHandedOverWhenTheReaderThreadHasNoMemoryAtAll) {
    Reading reading({hello("hello-1")});
    reading.starved = true;
    testing::CapturedStandardError error;
    reading.run();
    EXPECT_EQ(error.text(), "quenra-native-host: out-of-memory\n");
    EXPECT_EQ(reading.session.handed, std::vector<std::string>{"shutdown"});
    EXPECT_EQ(reading.exits, std::vector<int>{1});
}

}  // namespace
}  // namespace quenra
