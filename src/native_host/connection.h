// The main-thread half of one served browser connection: it passes each request the reader
// thread read, and each item that is not a frame, to the session, frames and writes the
// replies in order, keeps the watch timer in step with the session's isWatching, runs the
// housekeeping timer, and makes every end of the connection (input ended, output broken,
// stream corrupt) with its log line and exit status. Made on the main thread and used only
// there, which every public method checks.
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
#include "bridge_core/served_session.h"
#include "bridge_core/thread_checker.h"
#include "native_host/event_loop.h"

namespace quenra {

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

    // One frame, read as it arrived: answered.
    void handle(ReadRequest request);
    // An item that is not a frame: corrupt ends the process (status 1, nothing written),
    // tooLarge and empty are answered.
    void refuse(const FrameDecoder::Item& item);
    // Input ended or could not be read; midFrame when it stopped inside a frame. Status 0.
    void endOfInput(bool midFrame);
    // The reader thread ran out of memory outside a frame's reading: "out-of-memory", status 1.
    // So does memory that runs out in anything the connection runs (an item's or a request's
    // handling beyond what the session answers INTERNAL, a timer, the writing of replies).
    void outOfMemory();

    // Frames and writes each payload in order; a failed write ends the process with status 0
    // and drops the rest.
    void send(const std::vector<std::string>& payloads);
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
    ThreadChecker thread_{"Connection"};  // the loop's thread, where the connection is made
};

}  // namespace quenra
