#include "native_host/output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include <vector>

#include "bridge_core/files.h"
#include "support/child_process.h"
#include "support/on_another_thread.h"

namespace quenra {
namespace {

using testing::ChildProcess;

// Output::write in a child whose standard output is descriptor (closed when -1) and which
// ignores SIGPIPE, as the host does; the child's exit status is 0 when write returned true.
ChildProcess writeInChild(int descriptor, ByteView bytes) {
    return ChildProcess::start([descriptor, bytes] {
        std::signal(SIGPIPE, SIG_IGN);
        if (descriptor < 0 ? ::close(STDOUT_FILENO) != 0
                           : ::dup2(descriptor, STDOUT_FILENO) != STDOUT_FILENO) {
            return 2;
        }
        return Output::write(bytes) ? 0 : 1;
    });
}

TEST(OutputTest, WritesEveryByteInOrderThroughShortWrites) {
    Files::Pipe pipe = Files::openPipe();
    // Larger than any pipe buffer, so the writer sees short writes while the reader drains.
    std::vector<std::uint8_t> sent(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(i * 31 + 7);
    ChildProcess writer = writeInChild(pipe.writing.get(), sent);
    pipe.writing.reset();
    std::vector<std::uint8_t> received;
    std::uint8_t chunk[4096];
    ssize_t count;
    while ((count = ::read(pipe.reading.get(), chunk, sizeof chunk)) > 0) {
        received.insert(received.end(), chunk, chunk + count);
    }
    EXPECT_EQ(writer.wait(), 0);
    EXPECT_EQ(received, sent);
}

TEST(OutputTest, AClosedReaderIsABrokenOutputNotASignal) {
    Files::Pipe pipe = Files::openPipe();
    pipe.reading.reset();
    const std::vector<std::uint8_t> frame{2, 0, 0, 0, '{', '}'};
    EXPECT_EQ(writeInChild(pipe.writing.get(), frame).wait(), 1);
}

TEST(OutputTest, AnEmptyBufferIsWrittenWithoutTouchingTheDescriptor) {
    EXPECT_EQ(writeInChild(-1, {}).wait(), 0);
    const std::vector<std::uint8_t> one{1};
    EXPECT_EQ(writeInChild(-1, one).wait(), 1);
}

// Frames leave from one thread only: the first that writes.
TEST(OutputDeathTest, WritesOnlyFromTheThreadThatWroteFirst) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Output::write({});
            testing::onAnotherThread([] { Output::write({}); });
        },
        "thread-check-failed: .*Output::write.* called on a thread that does not own");
}

}  // namespace
}  // namespace quenra
