#include "native_host/input_reader.h"

#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "bridge_core/framing.h"
#include "bridge_core/limits.h"

namespace quenra::InputReader {

void run(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits) {
    FrameDecoder decoder(limits);
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
            // The session consumes the body: a large one is given back to the system as soon
            // as it is parsed, rather than kept for a next request that may never come.
            loop.runAndWait([&] { connection.handle(std::move(item)); });
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
