// The thread an object belongs to, recorded where the object is made and checked at the top of
// each of its public methods, in every build: a call from any other thread ends the process at
// once with a line that names the method, instead of a data race that shows up much later, or
// never. A check is one comparison of thread ids.
#pragma once

#include <source_location>
#include <thread>

namespace quenra {

class ThreadChecker {
  public:
    ThreadChecker() : owner_(std::this_thread::get_id()) {}

    // On the owning thread only.
    void check(std::source_location where = std::source_location::current()) const {
        if (std::this_thread::get_id() != owner_) {
            fail(where, "called on a thread that does not own it");
        }
    }
    // On any thread but the owning one: for a call that waits for the owning thread, which
    // would wait for ever there.
    void checkElsewhere(std::source_location where = std::source_location::current()) const {
        if (std::this_thread::get_id() == owner_) {
            fail(where, "called on the thread it waits for");
        }
    }

  private:
    // Logs "thread-check-failed: <method> <why>" and aborts.
    [[noreturn]] static void fail(const std::source_location& where, const char* why);

    std::thread::id owner_;
};

}  // namespace quenra
