// The main-thread half of one served browser connection: it passes each decoded item to the
// session, frames and writes the replies in order, keeps the watch timer in step with the
// session's isWatching, runs the housekeeping timer, and makes every end of the connection
// (input ended, output broken, stream corrupt) with its log line and exit status.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bridge_core/framing.h"
#include "bridge_core/request_reader.h"
#include "native_host/event_loop.h"

namespace quenra {

// What a connection drives: the host session in the program, a substitute in tests. All calls
// come from the loop's thread.
class ServedSession {
  public:
    virtual ~ServedSession() = default;
    // The UTF-8 JSON of one message to send, not yet framed.
    using Payload = std::string;

    // The payloads to send, in order. The item is the session's to consume.
    virtual std::vector<Payload> receive(FrameDecoder::Item item) = 0;
    // The same for a frame the reader thread has already read, as the program's reader hands
    // every frame over.
    virtual std::vector<Payload> receiveRequest(ReadRequest request) = 0;
    virtual std::vector<Payload> tick() = 0;
    virtual bool isWatching() = 0;
    virtual void sweep() = 0;
    // Ends an armed drag and gives up every cache entry the connection owns.
    virtual void shutdown() = 0;
};

class Connection {
  public:
    static constexpr std::chrono::milliseconds watchInterval{5};
    static constexpr std::chrono::seconds sweepInterval{60};

    struct Exits {
        // Writes one frame in full; false when the output is broken.
        std::function<bool(std::span<const std::uint8_t>)> write;
        // Ends the process with the status; in the program it never returns.
        std::function<void(int status)> exit;
    };

    Connection(EventLoop& loop, ServedSession& session, Exits exits);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Schedules the housekeeping timer; its first firing comes one interval from now.
    void startSweepTimer();

    // One decoded item: corrupt ends the process (status 1, nothing written), every other
    // item is answered.
    void handle(FrameDecoder::Item item);
    // One frame, read as it arrived: answered.
    void handle(ReadRequest request);
    // Input ended or could not be read; midFrame when it stopped inside a frame. Status 0.
    void endOfInput(bool midFrame);
    // The reader thread ran out of memory outside a frame's reading: "out-of-memory", status 1.
    // So does memory that runs out in anything the connection runs (an item's or a request's
    // handling beyond what the session answers INTERNAL, a timer, the writing of replies).
    void outOfMemory();

    // Frames and writes each payload in order; a failed write ends the process with status 0
    // and drops the rest.
    void send(const std::vector<ServedSession::Payload>& payloads);
    // Starts or stops the watch timer so that it exists exactly while the session watches.
    void updateWatchTimer();

  private:
    // Runs work, turning memory that runs out into outOfMemory.
    template <typename Work>
    void guarded(Work&& work);
    void watchFired();
    void end(int status);

    EventLoop& loop_;
    ServedSession& session_;
    Exits exits_;
    std::optional<EventLoop::TimerId> watchTimer_;
    std::optional<EventLoop::TimerId> sweepTimer_;
};

}  // namespace quenra
