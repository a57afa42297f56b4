// The connection itself misbehaving: the browser stops reading in the middle of a batch of
// requests, or its bytes trickle in one at a time. The host must end cleanly (status 0, its
// prepared entries gone) in the first case and answer exactly as usual in the second; and in
// every case its standard output carries nothing but whole frames of JSON objects.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <cstring>
#include <thread>

#include "bridge_core/framing.h"
#include "reliability/cache_audit.h"
#include "support/temporary_directory.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra::testing {
namespace {

namespace Requests = TestPeer::Requests;
using std::chrono::milliseconds;
using TestPeer::ExitStatus;
using TestPeer::HostProcess;

const std::string origin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";

class StreamFaultTest : public ::testing::Test {
  protected:
    HostProcess start(HostProcess::OutputKind kind = HostProcess::OutputKind::frames) {
        return HostProcess::spawn(TestPeer::defaultHostPath(), {origin}, environment_, kind);
    }
    std::string root() const { return home_.join(".cache/tech.ostrell.quenra.bridge"); }
    std::string frame(const std::string& payload) const {
        const auto bytes = FrameEncoder::frame(payload);
        return std::string(bytes.begin(), bytes.end());
    }

    TemporaryDirectory home_;
    std::vector<std::string> environment_ = TestPeer::isolatedEnvironment(home_.path());
    Requests::Session session_{"stream-fault-session-01", 3};
    std::vector<std::uint8_t> clip_ = TestPeer::MidiClip::generate(3000, 5);
};

TEST_F(StreamFaultTest, OutputClosedMidBatchEndsTheHostCleanly) {
    HostProcess host = start();
    std::string batch = frame(Requests::hello(session_, "hello")) +
                        frame(Requests::prepare(session_, "prepare", "clip-a", 1, clip_, "Clip"));
    ASSERT_TRUE(host.write(batch));
    ASSERT_TRUE(host.readFrame());
    const auto prepared = host.readFrame();
    ASSERT_TRUE(prepared);
    ASSERT_EQ(Requests::text(Requests::parse(*prepared), "type"), "PREPARED");
    ASSERT_EQ(CacheAudit::of(root()).complete.size(), 1u);

    // Forty requests in one write; the reader has gone before the first reply.
    host.closeOutput();
    batch.clear();
    for (int index = 0; index < 40; ++index) {
        batch += frame(Requests::status(session_, "status-" + std::to_string(index)));
    }
    host.write(batch);
    const auto status = host.wait(milliseconds(10000));
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, ExitStatus::exitedWith(0)) << TestPeer::describe(*status);
    EXPECT_EQ(host.standardError().find("corrupt"), std::string::npos) << host.standardError();
    // It shut its session down first: the prepared entry went with it.
    const CacheAudit audit = CacheAudit::of(root());
    EXPECT_TRUE(audit.complete.empty() && audit.staging.empty()) << audit.describe();
}

// The same conversation, whole and one byte per write: the replies must not differ.
TEST_F(StreamFaultTest, InputArrivingOneByteAtATimeIsAnsweredAsAWhole) {
    const std::vector<std::string> requests = {
        Requests::hello(session_, "hello"),
        Requests::prepare(session_, "prepare", "clip-a", 1, clip_, "Trickled Clip"),
        Requests::status(session_, "status"),
        "{\"not\": \"a request\"}",
        Requests::cancel(session_, "cancel", "AAAAAAAAAAAAAAAAAAAAAA"),
    };
    const auto conversation = [&](bool trickle) {
        HostProcess host = start();
        std::vector<boost::json::object> replies;
        for (const std::string& request : requests) {
            const std::string bytes = frame(request);
            if (trickle) {
                for (const char byte : bytes) {
                    host.write(std::string_view(&byte, 1));
                    // Lets the reader wake for each byte instead of finding several at once.
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
            } else {
                host.write(bytes);
            }
            const auto reply = host.readFrame(milliseconds(20000));
            if (!reply) {
                ADD_FAILURE() << "no reply to " << request.substr(0, 80);
                break;
            }
            auto object = Requests::parse(*reply);
            // The prepared id is random; everything else must match.
            if (object.contains("preparedId")) {
                object["preparedId"] = "id";
            }
            replies.push_back(std::move(object));
        }
        host.closeInput();
        EXPECT_EQ(host.wait(), ExitStatus::exitedWith(0));
        EXPECT_EQ(host.standardError().find("eof-mid-frame"), std::string::npos);
        return replies;
    };
    const auto whole = conversation(false);
    const auto trickled = conversation(true);
    ASSERT_EQ(whole.size(), requests.size());
    EXPECT_EQ(Requests::text(whole[1], "type"), "PREPARED");
    EXPECT_EQ(Requests::text(whole[3], "type"), "ERROR");
    ASSERT_EQ(trickled.size(), whole.size());
    for (std::size_t index = 0; index < whole.size(); ++index) {
        EXPECT_EQ(boost::json::serialize(trickled[index]), boost::json::serialize(whole[index]));
    }
}

// Every kind of trouble a browser can cause, read back as raw bytes: the output must be a
// sequence of whole frames, each one JSON object, and standard error only log lines.
TEST_F(StreamFaultTest, StandardOutputCarriesNothingButFrames) {
    HostProcess host = start(HostProcess::OutputKind::text);
    std::string input = frame(Requests::status(session_, "early")) +
                        frame(Requests::hello(session_, "hello")) +
                        frame(Requests::hello(session_, "hello")) + frame("") +
                        frame("not json at all") + frame("[1,2,3]") + frame("\"\\ud800\"") +
                        frame(Requests::prepare(session_, "prepare", "clip-a", 1, clip_,
                                                "../../etc/passwd\n\x1b[31m"));
    // A frame over the request limit is refused and its body skipped unread.
    const std::uint32_t tooLarge = 25165825;
    input.append(reinterpret_cast<const char*>(&tooLarge), 4);
    input.append(tooLarge, ' ');
    input += frame(Requests::status(session_, "after-skip"));
    input += std::string("\x02\x00", 2);  // the stream then stops inside a header
    ASSERT_TRUE(host.write(input));
    host.closeInput();
    const std::string& output = host.readAllOutput(milliseconds(30000));
    ASSERT_EQ(host.wait(), ExitStatus::exitedWith(0));

    std::size_t position = 0;
    int frames = 0;
    while (position < output.size()) {
        ASSERT_GE(output.size() - position, 4u) << "a partial header at " << position;
        std::uint32_t length = 0;
        std::memcpy(&length, output.data() + position, 4);
        ASSERT_GT(length, 0u);
        ASSERT_LE(length, output.size() - position - 4) << "a partial frame at " << position;
        boost::system::error_code error;
        const auto value = boost::json::parse(output.substr(position + 4, length), error);
        ASSERT_FALSE(error) << output.substr(position + 4, length);
        ASSERT_TRUE(value.is_object());
        ++frames;
        position += 4 + length;
    }
    EXPECT_EQ(frames, 10);

    const std::string& log = host.standardError();
    std::size_t line = 0;
    while (line < log.size()) {
        const std::size_t end = log.find('\n', line);
        ASSERT_NE(end, std::string::npos) << "an unfinished log line";
        EXPECT_EQ(log.compare(line, 20, "quenra-native-host: "), 0) << log.substr(line, end - line);
        line = end + 1;
    }
    EXPECT_NE(log.find("quenra-native-host: eof-mid-frame\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace quenra::testing
