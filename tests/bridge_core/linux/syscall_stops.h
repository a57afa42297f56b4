// A child process run under ptrace, stopped at each of its system calls in turn, so that a test
// can act (kill it, change the file system) at every point of an operation. ptrace's
// system-call stops are Linux's.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "support/child_process.h"

namespace quenra::testing {

// The tracer side of a child stopped by ptrace: resume until the next system-call stop.
// False once the child has ended (and then it has been reaped).
inline bool resumeToNextSyscallStop(ChildProcess& child) {
    const pid_t pid = child.pid();
    int signal = 0;
    for (;;) {
        if (::ptrace(PTRACE_SYSCALL, pid, nullptr, signal) != 0) {
            return false;
        }
        int status = 0;
        if (::waitpid(pid, &status, __WALL) < 0) {
            return false;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            child.reaped(status);
            return false;
        }
        if (WSTOPSIG(status) == (SIGTRAP | 0x80)) {
            return true;
        }
        signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
    }
}

// Resumes the child to its killAt-th system-call stop and kills it there. The number of calls
// can vary from run to run (allocators map memory when they like): a child that ends before
// that stop simply completed its work, and then true is returned. Either way it is reaped, with
// the status that says which.
inline bool killAtSyscallStop(ChildProcess& child, int killAt) {
    bool finished = false;
    for (int stop = 0; stop < killAt && !finished; ++stop) {
        finished = !resumeToNextSyscallStop(child);
    }
    if (finished) {
        EXPECT_EQ(child.wait(), 0);
    } else {
        child.kill(SIGKILL);
        EXPECT_EQ(child.wait(), 128 + SIGKILL);
    }
    return finished;
}

// A traced child that runs prepare, stops itself, then runs traced and _exits with its result:
// the tracer counts only traced's calls.
inline ChildProcess startTraced(const std::function<void()>& prepare,
                                const std::function<int()>& traced) {
    ChildProcess child = ChildProcess::start([&] {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            return 3;
        }
        prepare();
        ::raise(SIGSTOP);
        ::_exit(traced());
    });
    int status = 0;
    EXPECT_EQ(::waitpid(child.pid(), &status, __WALL), child.pid());
    EXPECT_TRUE(WIFSTOPPED(status) && WSTOPSIG(status) == SIGSTOP);
    ::ptrace(PTRACE_SETOPTIONS, child.pid(), nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    return child;
}

}  // namespace quenra::testing
