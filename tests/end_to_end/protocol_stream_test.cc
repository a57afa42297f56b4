// The host's standard input and output as a browser drives them: how frames are cut, answered
// and ordered, and how every end of the stream ends the process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "end_to_end/host_fixture.h"

namespace quenra::testing {
namespace {

std::string header(std::uint32_t length) {
    return std::string{static_cast<char>(length), static_cast<char>(length >> 8),
                       static_cast<char>(length >> 16), static_cast<char>(length >> 24)};
}

std::string framed(const std::string& payload) {
    return header(payload.size()) + payload;
}

using StreamTest = HostTest;

TEST_F(StreamTest, TwoRequestsInOneWriteAreAnsweredInOrder) {
    HostProcess host = startHost();
    ASSERT_TRUE(host.write(framed(Requests::hello(session, "first")) +
                           framed(Requests::status(session, "second"))));
    boost::json::object first = next(host);
    boost::json::object second = next(host);
    EXPECT_EQ(Requests::text(first, "requestId"), "first");
    EXPECT_EQ(Requests::text(first, "type"), "HELLO_OK");
    EXPECT_EQ(Requests::text(second, "requestId"), "second");
    EXPECT_EQ(Requests::text(second, "type"), "STATUS");
}

TEST_F(StreamTest, AFrameSentOneByteAtATimeIsAnsweredOnceItIsComplete) {
    HostProcess host = startHost();
    std::string bytes = framed(Requests::hello(session, "slow"));
    for (std::size_t index = 0; index + 1 < bytes.size(); ++index) {
        ASSERT_TRUE(host.write(bytes.substr(index, 1)));
        // Gives the reader a chance to take each byte in a read of its own.
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    EXPECT_FALSE(host.readFrame(milliseconds(100)).has_value());
    ASSERT_TRUE(host.write(bytes.substr(bytes.size() - 1)));
    boost::json::object reply = next(host);
    EXPECT_EQ(Requests::text(reply, "type"), "HELLO_OK");
    EXPECT_EQ(Requests::text(reply, "requestId"), "slow");
}

TEST_F(StreamTest, EmptyAndOversizedFramesAreAnsweredAndReadingGoesOn) {
    HostProcess host = startHost();
    ASSERT_TRUE(host.write(header(0)));
    boost::json::object empty = next(host);
    EXPECT_EQ(Requests::text(empty, "type"), "ERROR");
    EXPECT_EQ(Requests::text(empty, "code"), "BAD_REQUEST");
    EXPECT_EQ(Requests::text(empty, "requestId"), "unparsed");

    // One byte over the largest accepted frame: refused, and its body skipped, not parsed.
    const std::uint32_t tooLong = 25165824 + 1;
    ASSERT_TRUE(host.write(header(tooLong) + std::string(tooLong, '{')));
    boost::json::object oversized = next(host, milliseconds(20000));
    EXPECT_EQ(Requests::text(oversized, "type"), "ERROR");
    EXPECT_EQ(Requests::text(oversized, "code"), "TOO_LARGE");
    EXPECT_EQ(Requests::text(oversized, "requestId"), "unparsed");

    boost::json::object reply = exchange(host, Requests::hello(session, "after"));
    EXPECT_EQ(Requests::text(reply, "type"), "HELLO_OK");
    EXPECT_EQ(Requests::text(reply, "requestId"), "after");
}

TEST_F(StreamTest, ACorruptLengthEndsWithStatusOneAfterTheEarlierReplies) {
    HostProcess host = startHost();
    // The HELLO and the corrupt header arrive in one read.
    ASSERT_TRUE(host.write(framed(Requests::hello(session, "before")) + header(67108865) +
                           framed(Requests::status(session, "never"))));
    boost::json::object reply = next(host);
    EXPECT_EQ(Requests::text(reply, "requestId"), "before");
    EXPECT_TRUE(host.outputEndsWithin(milliseconds(5000)));
    EXPECT_EQ(host.wait(), ExitStatus::exitedWith(1));
    EXPECT_EQ(host.standardError(),
              "quenra-native-host: hello\nquenra-native-host: corrupt-frame-length\n");
}

TEST_F(StreamTest, EveryEndOfInputExitsWithItsStatusAndLogLine) {
    struct Case {
        const char* name;
        std::string input;
        std::string log;
        std::size_t replies;
    };
    const std::vector<Case> cases{
        {"no byte at all", "", "", 0},
        {"after two of the four header bytes", std::string("\x05\x00", 2),
         "quenra-native-host: eof-mid-frame\n", 0},
        {"inside a body", header(10) + "{\"a\"", "quenra-native-host: eof-mid-frame\n", 0},
        {"right after a complete frame", header(0), "", 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TestPeer::Completed done = runHost({releaseOrigin}, test.input);
        EXPECT_EQ(done.status, ExitStatus::exitedWith(0));
        EXPECT_EQ(done.error, test.log);
        if (test.replies == 0)
            EXPECT_EQ(done.output, "");
        else
            EXPECT_FALSE(done.output.empty());
    }
}

TEST_F(StreamTest, AClosedStandardOutputEndsTheProcessWithStatusZeroAndNoSignal) {
    HostProcess host = startHost();
    host.closeOutput();
    ASSERT_TRUE(host.send(Requests::hello(session, "unheard")));
    EXPECT_EQ(host.wait(), ExitStatus::exitedWith(0));
    EXPECT_EQ(host.standardError(), "quenra-native-host: hello\n");
}

TEST_F(StreamTest, AnUnusableCacheOrDragBoardEndsTheHostBeforeAnyInputIsRead) {
    struct Case {
        const char* name;
        const char* blocked;  // a plain file where this folder belongs
        const char* log;
    };
    for (const Case& test : {
             Case{"cache", ".cache", "quenra-native-host: cache-unavailable\n"},
             Case{"drag board", "run/tech.ostrell.quenra.dragboard",
                  "quenra-native-host: drag-board-unavailable\n"},
         }) {
        SCOPED_TRACE(test.name);
        TemporaryDirectory otherHome;
        environment = TestPeer::isolatedEnvironment(otherHome.path());
        writeFileText(otherHome.join(test.blocked), "not a directory");
        TestPeer::Completed done =
            runHost({releaseOrigin}, framed(Requests::hello(session, "unanswered")));
        EXPECT_EQ(done.status, ExitStatus::exitedWith(1));
        EXPECT_EQ(done.error, test.log);
        EXPECT_EQ(done.output, "");
    }
}

}  // namespace
}  // namespace quenra::testing
