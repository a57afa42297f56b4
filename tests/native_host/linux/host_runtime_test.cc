// The served host's start, run for real in a forked child, with each of its allocations in turn
// made to fail: every start ends in a log line and an exit status, never in an abort.
#include "native_host/host_runtime.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "bridge_core/files.h"
#include "support/child_process.h"
#include "support/replaced_allocation.h"
#include "support/temporary_directory.h"

namespace quenra {
namespace {

namespace faults = testing::AllocationFaults;

struct Start {
    int status = -1;
    std::string log;
    bool failed = false;  // the armed allocation was reached
};

// A host served over an input that ends at once, in a home of its own, with the failing-th
// allocation from the start on failing.
Start startFailing(const testing::TemporaryDirectory& home, std::uint64_t failing) {
    const std::string runtime = home.join("run");
    const std::string errorPath = home.join("error-" + std::to_string(failing));
    Files::Pipe report = Files::openPipe();
    testing::ChildProcess child = testing::ChildProcess::start([&] {
        ::clearenv();
        ::setenv("HOME", home.path().c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        const int error = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (nothing < 0 || error < 0) {
            return 90;
        }
        ::dup2(nothing, STDIN_FILENO);
        ::dup2(nothing, STDOUT_FILENO);
        ::dup2(error, STDERR_FILENO);
        report.reading.reset();
        faults::failureReport = report.writing.get();
        faults::failNth(failing);
        HostRuntime::serve();
        return 91;  // serve ends the process itself
    });
    report.writing.reset();
    Start start;
    start.status = child.wait();
    char failure = 0;
    start.failed = ::read(report.reading.get(), &failure, 1) == 1;
    start.log = testing::readFileText(errorPath);
    return start;
}

TEST(HostRuntime, AStartThatRunsOutOfMemoryEndsWithItsLogLineAndStatusOne) {
    testing::TemporaryDirectory home;
    ASSERT_EQ(::mkdir(home.join("run").c_str(), 0700), 0);
    int endedOutOfMemory = 0;
    for (std::uint64_t failing = 1;; ++failing) {
        SCOPED_TRACE(failing);
        const Start start = startFailing(home, failing);
        if (!start.failed) {
            // Past the last allocation: the input's end ends the host quietly.
            EXPECT_EQ(start.status, 0);
            EXPECT_EQ(start.log, "");
            break;
        }
        if (start.status == 1) {
            ++endedOutOfMemory;
            EXPECT_EQ(start.log, "quenra-native-host: out-of-memory\n");
        } else {
            // A failure the host does without: the hash library's warm-up, a session that gives
            // up nothing at the end.
            EXPECT_EQ(start.status, 0);
            EXPECT_EQ(start.log, "");
        }
    }
    EXPECT_GT(endedOutOfMemory, 0);
}

}  // namespace
}  // namespace quenra
