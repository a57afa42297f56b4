// Real forked children for tests of several processes at once. The body runs in the child and
// its return value becomes the child's exit status; the child never returns into the test.
#pragma once

#include <functional>

#include "bridge_core/files.h"

namespace quenra::testing {

class ChildProcess {
  public:
    // Forks; the child runs body and _exits with its result (70 when it throws).
    static ChildProcess start(const std::function<int()>& body);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills and reaps a child that is still running.
    ~ChildProcess();

    int pid() const { return pid_; }
    void kill(int signal);
    // The exit status, or 128 + the signal that ended the child. Waits at most once.
    int wait();
    // For a caller that reaped the child itself (a ptrace tracer): records waitpid's status.
    void reaped(int rawStatus);

  private:
    explicit ChildProcess(int pid) : pid_(pid) {}

    int pid_ = -1;
    int status_ = -1;
};

// A one-way wake-up across fork: made before forking, one side notifies, the other waits.
class ProcessSignal {
  public:
    ProcessSignal();
    ~ProcessSignal();
    ProcessSignal(const ProcessSignal&) = delete;
    ProcessSignal& operator=(const ProcessSignal&) = delete;

    void notify();
    // True when notified; false when every writer has gone without notifying.
    bool wait();
    // Each side closes the end it does not use, so wait() sees a vanished writer.
    void becomeWaiter();
    void becomeNotifier();

  private:
    Files::Pipe pipe_;
};

}  // namespace quenra::testing
