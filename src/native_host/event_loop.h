// The host's main run loop: repeating deadline timers plus work handed over synchronously from
// another thread, on one mutex and two condition variables. Everything it runs, runs on the
// thread that called run(), one piece at a time, so timers never fire during a hand-off. That
// thread is the one that made the loop; each method checks which thread calls it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "bridge_core/thread_checker.h"

namespace quenra {

class EventLoop {
  public:
    using Clock = std::chrono::steady_clock;
    using TimerId = std::uint64_t;

    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // A repeating timer whose first firing comes one interval from now. A firing that comes
    // late is not made up for: the next one is scheduled one interval after the late one.
    // Callable from the loop's thread (from inside a timer or a hand-off too).
    TimerId addRepeatingTimer(Clock::duration interval, std::function<void()> action);
    // Removes a timer; it never fires again, even when cancelled from inside a firing.
    void cancelTimer(TimerId id);
    std::size_t timerCount() const;

    // From any thread but the loop's own (from there it would wait for ever, so that call ends
    // the process instead): runs work on the loop's thread and returns once it has finished.
    // Hand-offs run in the order they were made. Work that ends the process leaves the caller
    // blocked for good, which is what the reader thread wants.
    void runAndWait(std::function<void()> work);
    // From any thread but the loop's own: hands over the last work of the caller's thread (the
    // reader's end of input, which ends the process) after the hand-offs already made, and
    // returns without waiting for it, so that the caller's thread can end at once: a thread
    // still alive when the process exits is one more for the kernel to stop on the way out.
    void handOverLast(std::function<void()> work);

    // On the thread that made the loop: runs timers and hand-offs, blocking without waking
    // while nothing is due, until no timer is left. The host's sweep timer never goes, so for the
    // host it runs for good.
    void run();

  private:
    struct Timer {
        Clock::duration interval;
        Clock::time_point deadline;
        std::function<void()> action;
    };
    struct HandOff {
        std::function<void()> work;
        bool done = false;
    };

    // Waits until no hand-off is pending, makes handOff the pending one and wakes the loop;
    // returns with lock released.
    void post(std::unique_lock<std::mutex>& lock, HandOff& handOff);

    mutable std::mutex mutex_;
    std::condition_variable wake_;      // the loop: a hand-off arrived, a timer changed
    std::condition_variable finished_;  // the hand-off's caller: its work has run
    std::map<TimerId, Timer> timers_;
    TimerId nextTimerId_ = 1;
    HandOff* pending_ = nullptr;         // at most one caller at a time; later ones wait their turn
    std::optional<HandOff> last_;        // handOverLast's, which no caller's stack holds
    ThreadChecker thread_{"EventLoop"};  // the loop's thread: the one that makes it and runs it
};

}  // namespace quenra
