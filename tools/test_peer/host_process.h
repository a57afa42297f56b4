// The host as a browser sees it: a child process started with an origin (or a switch) and an
// environment of our choosing, its standard input and output as the two frame streams, and its
// standard error and exit status to look at afterwards.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bridge_core/files.h"
#include "bridge_core/framing.h"
#include "test_peer/frame_collector.h"

namespace quenra::TestPeer {

using std::chrono::milliseconds;

// How a child ended: exited with a status, or killed by a signal.
struct ExitStatus {
    bool exited = false;
    int code = 0;    // when exited
    int signal = 0;  // when killed

    bool operator==(const ExitStatus&) const = default;
    static ExitStatus exitedWith(int code) { return {true, code, 0}; }
};
std::string describe(const ExitStatus& status);

// The built host program (inside the bundle of the build tree, unless QUENRA_HOST overrides).
std::string defaultHostPath();
// The drag board simulator of the build tree (QUENRA_DRAG_SIM overrides).
std::string defaultDragSimPath();
// An environment for a child that sees home as HOME and home/run as XDG_RUNTIME_DIR (made
// private here when missing), with the parent's PATH and sanitizer options and nothing else.
std::vector<std::string> isolatedEnvironment(const std::string& home);

class HostProcess {
  public:
    // How standard output is read: as frames (readFrame), or as plain bytes (readAllOutput).
    enum class OutputKind { frames, text };

    // Starts program with the arguments and exactly the given "NAME=value" environment.
    // Throws std::runtime_error when it cannot be started.
    static HostProcess spawn(const std::string& program, const std::vector<std::string>& arguments,
                             const std::vector<std::string>& environment,
                             OutputKind outputKind = OutputKind::frames);

    HostProcess(HostProcess&& other) noexcept;
    HostProcess& operator=(HostProcess&& other) = delete;
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;
    // Kills and reaps a child still running.
    ~HostProcess();

    int pid() const { return pid_; }

    // Raw bytes to the child's standard input; false once that pipe is broken or closed.
    bool write(std::span<const std::uint8_t> bytes);
    bool write(std::string_view bytes);
    // One frame around payload.
    bool send(std::string_view payload);
    void closeInput();
    // Stops reading the child's standard output, so its next write fails with EPIPE.
    void closeOutput();

    // The next frame's payload, waiting at most timeout (at 0, only what has arrived); nothing
    // on timeout or end of output.
    // A frame the host should never send (empty, or over 64 MiB) throws std::runtime_error.
    std::optional<std::string> readFrame(milliseconds timeout = milliseconds(5000));
    // True when the child's standard output ends within timeout with no further byte.
    bool outputEndsWithin(milliseconds timeout);
    // Every byte the child has written to standard output so far, frames or not.
    const std::string& outputSoFar() const { return outputBytes_; }
    // Reads standard output to its end (at most timeout) and returns all of it.
    const std::string& readAllOutput(milliseconds timeout = milliseconds(10000));

    // The exit, waiting at most timeout; nothing when the child still runs.
    std::optional<ExitStatus> wait(milliseconds timeout = milliseconds(5000));
    // Standard error so far; after the exit, all of it.
    const std::string& standardError();

  private:
    HostProcess(int pid, Descriptor input, Descriptor output, Descriptor error,
                OutputKind outputKind);
    void drainError();
    // Reads what is there within timeout into the decoder; false at end of output.
    bool pump(milliseconds timeout);

    int pid_ = -1;
    Descriptor input_;
    Descriptor output_;
    Descriptor error_;
    OutputKind outputKind_;
    std::optional<ExitStatus> exit_;
    FrameCollector decoder_;
    std::deque<std::string> frames_;
    std::string outputBytes_;
    std::string standardError_;
    bool outputEnded_ = false;
};

// Runs program to its end with the input given on standard input, then closed.
struct Completed {
    ExitStatus status;
    std::string output;
    std::string error;
};
Completed run(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment, std::string_view input = {},
              milliseconds timeout = milliseconds(10000));

}  // namespace quenra::TestPeer
