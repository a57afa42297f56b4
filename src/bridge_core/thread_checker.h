// The thread an object belongs to, recorded where the object is made and checked at the top of
// each of its public methods, in every build: a call from any other thread ends the process at
// once with a line that names the method, instead of a data race that shows up much later, or
// never. A check is one comparison of thread ids.
#pragma once

#include <thread>

namespace quenra {

class ThreadChecker {
  public:
    // owner names the type, so that a failure reads "Type::method".
    explicit ThreadChecker(const char* owner) : name_(owner), owner_(std::this_thread::get_id()) {}

    // On the owning thread only. The caller's name is the compiler's (GCC and Clang both give
    // it; the C++ library's source_location is not there for every compiler we build with).
    void check(const char* function = __builtin_FUNCTION()) const {
        if (std::this_thread::get_id() != owner_) {
            fail(name_, function, "called on a thread that does not own it");
        }
    }
    // On any thread but the owning one: for a call that waits for the owning thread, which
    // would wait for ever there.
    void checkElsewhere(const char* function = __builtin_FUNCTION()) const {
        if (std::this_thread::get_id() == owner_) {
            fail(name_, function, "called on the thread it waits for");
        }
    }

  private:
    // Logs "thread-check-failed: <owner>::<method> <why>" and aborts.
    [[noreturn]] static void fail(const char* owner, const char* function, const char* why);

    const char* name_;
    std::thread::id owner_;
};

}  // namespace quenra
