// Runs an action on a thread of its own and waits for it: for the checks that an object is used
// only on the thread that made it.
#pragma once

#include <functional>
#include <thread>

namespace quenra::testing {

inline void onAnotherThread(const std::function<void()>& action) {
    std::thread(action).join();
}

}  // namespace quenra::testing
