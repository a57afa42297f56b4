#include "native_host/input_reader.h"

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>
#include <optional>
#include <thread>

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
    HandOver(EventLoop& loop, Connection& connection, const Limits& limits)
        : loop_(loop), connection_(connection), limits_(limits) {}

    void frameBegins(std::int64_t length) override {
        try {
            reader_.emplace(static_cast<std::size_t>(length), limits_);
        } catch (const std::bad_alloc&) {
            // No reader: the frame's bytes are counted off and it is answered INTERNAL.
            reader_.reset();
        }
    }
    void frameBytes(std::span<const std::uint8_t> bytes) override {
        if (reader_) {
            reader_->append(bytes);
        }
    }
    void frameEnds() override {
        ReadRequest request =
            reader_ ? reader_->finish()
                    : RefusedRequest{ProtocolFailure(ErrorCode::internal, "out of memory"), {}};
        reader_.reset();
        loop_.runAndWait([&] { connection_.handle(std::move(request)); });
    }
    void item(FrameDecoder::Item item) override {
        loop_.runAndWait([&] { connection_.refuse(item); });
    }

  private:
    EventLoop& loop_;
    Connection& connection_;
    const Limits& limits_;
    std::optional<RequestReader> reader_;
};

// Reads until the input ends, and how it ended: between frames, inside one, or for want of
// memory on the way.
Connection::Ending readAll(int descriptor, EventLoop& loop, Connection& connection,
                           const Limits& limits) {
    try {
        FrameDecoder decoder(limits);
        HandOver handOver(loop, connection, limits);
        // Never zero-filled: read() writes what is used, and on a virtual machine each of the
        // sixteen pages a fill would touch costs a fault at every start.
        const std::unique_ptr<std::uint8_t[]> chunk =
            std::make_unique_for_overwrite<std::uint8_t[]>(readSize);
        for (;;) {
            ssize_t count = ::read(descriptor, chunk.get(), readSize);
            if (count < 0 && errno == EINTR)
                continue;
            // End of input and any other read error end the connection alike.
            if (count <= 0)
                break;
            decoder.append(std::span(chunk.get(), static_cast<std::size_t>(count)), handOver);
        }
        return decoder.isMidFrame() ? Connection::Ending::inputEndedMidFrame
                                    : Connection::Ending::inputEnded;
    } catch (const std::bad_alloc&) {
        // Only what a frame's own reading needs is answered INTERNAL; this is the rest (the
        // reader's buffers, a hand-off), after which the stream's place is lost.
        return Connection::Ending::outOfMemory;
    }
}

}  // namespace

void run(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits) noexcept {
    const Connection::Ending ending = readAll(descriptor, loop, connection, limits);
    // The ending ends the process, so this thread has nothing left to wait for. The hand-off
    // allocates nothing (its work, a pointer and the ending, fits in the function's own
    // storage), so it is made even when memory has run out on this thread.
    loop.handOverLast([&connection, ending] { connection.end(ending); });
}

void start(int descriptor, EventLoop& loop, Connection& connection, const Limits& limits) {
    std::thread([descriptor, &loop, &connection, limits] {
        run(descriptor, loop, connection, limits);
    }).detach();
}

}  // namespace quenra::InputReader
