#include "bridge_core/thread_checker.h"

#include <cstdlib>
#include <string>

#include "bridge_core/log.h"

namespace quenra {

void ThreadChecker::fail(const std::source_location& where, const char* why) {
    Log::note(std::string("thread-check-failed: ") + where.function_name() + " " + why);
    std::abort();
}

}  // namespace quenra
