#include "bridge_core/thread_checker.h"

#include <cstdlib>
#include <string>

#include "bridge_core/log.h"

namespace quenra {

void ThreadChecker::fail(const char* owner, const char* function, const char* why) {
    Log::note(std::string("thread-check-failed: ") + owner + "::" + function + " " + why);
    std::abort();
}

}  // namespace quenra
