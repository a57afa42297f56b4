#include "native_host/input_reader.h"

#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "bridge_core/framing.h"
#include "native_host/input_tuning.h"

namespace quenra::InputReader {

namespace {

// The buffer bodies are collected in, kept across requests. It is reserved at the largest
// body the decoder delivers but costs only the pages a body touches; huge pages make a large
// body cost a few faults instead of thousands. A body whose header comes in the same read as
// the end of the previous frame gets a buffer of its own: the old one is still being handled.
Bytes largeBodyBuffer(const Limits& limits) {
    Bytes buffer;
    if (limits.maxRequestFrameBytes <= 0)
        return buffer;
    buffer.reserve(static_cast<std::size_t>(limits.maxRequestFrameBytes));
    InputTuning::preferHugePages(buffer.data(), buffer.capacity());
    return buffer;
}

}  // namespace

void run(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits) {
    FrameDecoder decoder(limits);
    decoder.recycle(largeBodyBuffer(limits));
    std::vector<std::uint8_t> chunk(readSize);
    for (;;) {
        ssize_t count = ::read(descriptor, chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR)
            continue;
        // End of input and any other read error end the connection alike.
        if (count <= 0)
            break;
        auto items = decoder.append(std::span(chunk.data(), static_cast<std::size_t>(count)));
        for (FrameDecoder::Item& item : items) {
            loop.runAndWait([&] { connection.handle(item); });
            if (!item.body.empty())
                decoder.recycle(std::move(item.body));
        }
    }
    bool midFrame = decoder.isMidFrame();
    loop.runAndWait([&] { connection.endOfInput(midFrame); });
}

void start(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits) {
    std::thread([descriptor, &loop, &connection, limits] {
        run(descriptor, loop, connection, limits);
    }).detach();
}

}  // namespace quenra::InputReader
