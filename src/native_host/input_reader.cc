#include "native_host/input_reader.h"

#include <unistd.h>

#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include "bridge_core/framing.h"
#include "bridge_core/limits.h"
#include "bridge_core/request_reader.h"

namespace quenra::InputReader {

namespace {

// Reads each accepted frame as its bytes arrive, then hands the main thread the request read
// from it; every other item is handed over as it is. Each hand-off waits until the item has
// been answered, so at most one is in flight.
class HandOver final : public FrameDecoder::Consumer {
  public:
    HandOver(EventLoop& loop, Connection& connection) : loop_(loop), connection_(connection) {}

    void frameBegins(std::int64_t length) override {
        reader_.emplace(static_cast<std::size_t>(length));
    }
    void frameBytes(std::span<const std::uint8_t> bytes) override { reader_->append(bytes); }
    void frameEnds() override {
        ReadRequest request = reader_->finish();
        reader_.reset();
        loop_.runAndWait([&] { connection_.handle(std::move(request)); });
    }
    void item(FrameDecoder::Item item) override {
        loop_.runAndWait([&] { connection_.refuse(item); });
    }

  private:
    EventLoop& loop_;
    Connection& connection_;
    std::optional<RequestReader> reader_;
};

}  // namespace

void run(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits) {
    FrameDecoder decoder(limits);
    HandOver handOver(loop, connection);
    std::vector<std::uint8_t> chunk(readSize);
    for (;;) {
        ssize_t count = ::read(descriptor, chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR)
            continue;
        // End of input and any other read error end the connection alike.
        if (count <= 0)
            break;
        decoder.append(std::span(chunk.data(), static_cast<std::size_t>(count)), handOver);
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
