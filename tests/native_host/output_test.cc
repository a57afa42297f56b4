#include "native_host/output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include <vector>

#include "support/pipe.h"

namespace quenra {
namespace {

std::span<const std::uint8_t> bytesOf(const std::vector<std::uint8_t>& bytes) {
    return bytes;
}

TEST(OutputTest, WritesEveryByteInOrderThroughShortWrites) {
    int pipe[2];
    ASSERT_EQ(testing::closeOnExecPipe(pipe), 0);
    // Larger than any pipe buffer, so the writer sees short writes while the reader drains.
    std::vector<std::uint8_t> sent(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(i * 31 + 7);
    std::vector<std::uint8_t> received;
    std::thread reader([&] {
        std::uint8_t chunk[4096];
        ssize_t count;
        while ((count = ::read(pipe[0], chunk, sizeof chunk)) > 0) {
            received.insert(received.end(), chunk, chunk + count);
        }
    });
    EXPECT_TRUE(Output::writeAll(pipe[1], bytesOf(sent)));
    ::close(pipe[1]);
    reader.join();
    ::close(pipe[0]);
    EXPECT_EQ(received, sent);
}

TEST(OutputTest, AClosedReaderIsABrokenOutputNotASignal) {
    std::signal(SIGPIPE, SIG_IGN);
    int pipe[2];
    ASSERT_EQ(testing::closeOnExecPipe(pipe), 0);
    ::close(pipe[0]);
    std::vector<std::uint8_t> frame{2, 0, 0, 0, '{', '}'};
    EXPECT_FALSE(Output::writeAll(pipe[1], bytesOf(frame)));
    ::close(pipe[1]);
}

TEST(OutputTest, AnEmptyBufferIsWrittenWithoutTouchingTheDescriptor) {
    EXPECT_TRUE(Output::writeAll(-1, {}));
    std::vector<std::uint8_t> one{1};
    EXPECT_FALSE(Output::writeAll(-1, bytesOf(one)));
}

}  // namespace
}  // namespace quenra
