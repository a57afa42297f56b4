#include "child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace quenra::testing {

ChildProcess ChildProcess::start(const std::function<int()>& body) {
    // Output still buffered here would be the child's too, and a child whose standard output
    // is the pipe under test could flush it there: ThreadSanitizer's _exit does.
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::system_error(errno, std::generic_category(), "fork");
    }
    if (pid == 0) {
        int status = 70;
        try {
            status = body();
        } catch (const std::exception&) {
            status = 70;
        }
        ::_exit(status);
    }
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), status_(std::exchange(other.status_, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        pid_ = std::exchange(other.pid_, -1);
        status_ = std::exchange(other.status_, -1);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && status_ < 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

void ChildProcess::kill(int signal) {
    if (pid_ > 0 && status_ < 0) {
        ::kill(pid_, signal);
    }
}

int ChildProcess::wait() {
    if (pid_ <= 0 || status_ >= 0) {
        return status_;
    }
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waitpid");
        }
    }
    reaped(raw);
    return status_;
}

void ChildProcess::reaped(int rawStatus) {
    status_ = WIFEXITED(rawStatus) ? WEXITSTATUS(rawStatus) : 128 + WTERMSIG(rawStatus);
}

ProcessSignal::ProcessSignal() : pipe_(Files::openPipe()) {}

ProcessSignal::~ProcessSignal() = default;

void ProcessSignal::notify() {
    const char byte = 1;
    while (::write(pipe_.writing.get(), &byte, 1) < 0 && errno == EINTR) {
    }
}

bool ProcessSignal::wait() {
    char byte = 0;
    ssize_t count;
    do {
        count = ::read(pipe_.reading.get(), &byte, 1);
    } while (count < 0 && errno == EINTR);
    return count == 1;
}

void ProcessSignal::becomeWaiter() {
    pipe_.writing.reset();
}

void ProcessSignal::becomeNotifier() {
    pipe_.reading.reset();
}

}  // namespace quenra::testing
