// The main-thread half of one served browser connection: it passes each request the reader
// thread read, and each item that is not a frame, to the session, frames and writes the
// replies in order, keeps the watch timer in step with the session's isWatching, runs the
// housekeeping timer, and makes every end of the connection (input ended, output broken,
// stream corrupt, memory or the reader thread not to be had) in one place, with its log line
// and exit status. Made on the main thread and used only there, which every public method
// checks.
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
    // How long an answer's remaining work waits after the answer is written. The reader of the
    // answer is woken on the processor that wrote it, and would otherwise wait there behind
    // that work (an ARM's records, which the first poll needs in place 5 ms later).
    static constexpr std::chrono::microseconds settleDelay{200};

    // Every way a connection ends; end() gives each its log line and exit status.
    enum class Ending {
        inputEnded,          // input ended or could not be read, between frames
        inputEndedMidFrame,  // the same inside a frame
        corruptStream,       // a frame length past the corrupt limit
        outputClosed,        // a reply could not be written
        outOfMemory,         // beyond what a request's answer can report
        readerUnavailable,   // the reader thread could not be started
    };

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

    // One frame, read as it arrived: answered. Right after the first item's replies are
    // written, whatever the item, the cache is swept once (the housekeeping timer's first
    // firing comes a whole interval after its start).
    void handle(ReadRequest request);
    // An item that is not a frame: corrupt ends the connection (nothing written), tooLarge and
    // empty are answered.
    void refuse(const FrameDecoder::Item& item);

    // The one way the connection ends: the ending's log line (none for input that ended between
    // frames or output that closed; "eof-mid-frame", "corrupt-frame-length", "out-of-memory",
    // "reader-unavailable"), the session shut down, then the exit, with status 1 for a corrupt
    // stream, memory run out or no reader, 0 otherwise. Memory that runs out in anything the
    // connection runs (an item's or a request's handling beyond what the session answers
    // INTERNAL, a timer, the writing of replies) ends it as outOfMemory.
    void end(Ending ending);

    // Frames and writes each payload in order; a failed write ends the connection
    // (outputClosed), drops the rest and gives false.
    bool send(const std::vector<std::string>& payloads);
    // Starts or stops the watch timer so that it exists exactly while the session watches.
    void updateWatchTimer();

  private:
    // Runs work, turning memory that runs out into outOfMemory.
    template <typename Work>
    void guarded(Work&& work);
    // Writes an item's replies, keeps the watch timer in step, leaves the answer's remaining
    // work to the settle timer and makes the first sweep.
    void answer(const std::vector<std::string>& replies);
    void watchFired();
    void settleFired();

    EventLoop& loop_;
    ServedSession& session_;
    Exits exits_;
    std::optional<EventLoop::TimerId> watchTimer_;
    std::optional<EventLoop::TimerId> sweepTimer_;
    std::optional<EventLoop::TimerId> settleTimer_;  // fires once, settleDelay after an answer
    bool sweptOnce_ = false;
    ThreadChecker thread_{"Connection"};  // the loop's thread, where the connection is made
};

}  // namespace quenra
