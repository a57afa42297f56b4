#include "test_peer/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include "bridge_core/files.h"
#include "bridge_core/subprocess.h"

#ifndef QUENRA_BUNDLE_EXECUTABLES
#define QUENRA_BUNDLE_EXECUTABLES ""
#endif
#ifndef QUENRA_DRAG_SIM
#define QUENRA_DRAG_SIM "quenra-drag-sim"
#endif

namespace quenra::TestPeer {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + " failed: " + std::strerror(errno));
}

int remainingMilliseconds(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Every spawn of this peer holds this lock while it makes its pipes and starts the child. Where
// the system cannot make a close-on-exec pipe in one call (macOS), the platform makes a pipe and
// then marks its ends; a child that another thread started between the two steps would inherit
// the ends and keep a host's input open after the peer closed it.
std::mutex spawnLock;

ExitStatus decodeStatus(int status) {
    if (WIFEXITED(status))
        return ExitStatus::exitedWith(WEXITSTATUS(status));
    return ExitStatus{false, 0, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

}  // namespace

std::string describe(const ExitStatus& status) {
    if (status.exited)
        return "exit status " + std::to_string(status.code);
    return "signal " + std::to_string(status.signal);
}

std::string defaultHostPath() {
    if (const char* path = std::getenv("QUENRA_HOST"); path != nullptr && *path != '\0') {
        return path;
    }
    return std::string(QUENRA_BUNDLE_EXECUTABLES) + "/quenra-native-host";
}

std::string defaultDragSimPath() {
    if (const char* path = std::getenv("QUENRA_DRAG_SIM"); path != nullptr && *path != '\0') {
        return path;
    }
    return QUENRA_DRAG_SIM;
}

std::vector<std::string> isolatedEnvironment(const std::string& home) {
    std::string runtime = home + "/run";
    if (::mkdir(runtime.c_str(), 0700) != 0 && errno != EEXIST)
        fail("mkdir " + runtime);
    std::vector<std::string> environment{"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) {
            environment.push_back(std::string(name) + "=" + value);
        }
    }
    return environment;
}

HostProcess HostProcess::spawn(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment, OutputKind outputKind) {
    // Our writes to a child that has gone must come back as EPIPE, not kill the peer; the
    // child gets the default disposition back so that it has to ignore SIGPIPE itself.
    ::signal(SIGPIPE, SIG_IGN);

    const std::lock_guard<std::mutex> spawning(spawnLock);
    Files::Pipe input = Files::openPipe();
    Files::Pipe output = Files::openPipe();
    Files::Pipe error = Files::openPipe();
    int pid = -1;
    try {
        pid = Subprocess::start(program, arguments, environment,
                                {input.reading.get(), output.writing.get(), error.writing.get()});
    } catch (const std::system_error& failure) {
        throw std::runtime_error("spawn " + program + " failed: " + failure.code().message());
    }
    ::fcntl(error.reading.get(), F_SETFL, O_NONBLOCK);
    return HostProcess(pid, std::move(input.writing), std::move(output.reading),
                       std::move(error.reading), outputKind);
}

HostProcess::HostProcess(int pid, Descriptor input, Descriptor output, Descriptor error,
                         OutputKind outputKind)
    : pid_(pid),
      input_(std::move(input)),
      output_(std::move(output)),
      error_(std::move(error)),
      outputKind_(outputKind) {}

HostProcess::HostProcess(HostProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::move(other.input_)),
      output_(std::move(other.output_)),
      error_(std::move(other.error_)),
      outputKind_(other.outputKind_),
      exit_(other.exit_),
      decoder_(std::move(other.decoder_)),
      frames_(std::move(other.frames_)),
      outputBytes_(std::move(other.outputBytes_)),
      standardError_(std::move(other.standardError_)),
      outputEnded_(other.outputEnded_) {}

HostProcess::~HostProcess() {
    if (pid_ > 0 && !exit_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool HostProcess::write(std::span<const std::uint8_t> bytes) {
    if (!input_.isOpen()) {
        return bytes.empty();
    }
    try {
        Files::writeAll(input_.get(), bytes);
        return true;
    } catch (const FileFailure&) {
        return false;
    }
}

bool HostProcess::write(std::string_view bytes) {
    return write(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

bool HostProcess::send(std::string_view payload) {
    return write(FrameEncoder::frame(payload));
}

void HostProcess::closeInput() {
    input_.reset();
}

void HostProcess::closeOutput() {
    output_.reset();
    outputEnded_ = true;
}

bool HostProcess::pump(milliseconds timeout) {
    if (outputEnded_)
        return false;
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        drainError();
        pollfd descriptors[1] = {{output_.get(), POLLIN, 0}};
        int ready = ::poll(descriptors, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            fail("poll");
        if (ready == 0)
            return true;
        char chunk[65536];
        ssize_t count = ::read(output_.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            outputEnded_ = true;
            return false;
        }
        std::string_view bytes(chunk, static_cast<std::size_t>(count));
        outputBytes_.append(bytes);
        if (outputKind_ == OutputKind::text)
            return true;
        for (const Decoded& decoded : decoder_.append(bytes)) {
            const auto* body = std::get_if<ByteBuffer>(&decoded);
            if (body == nullptr) {
                throw std::runtime_error(
                    "the host wrote a frame no peer accepts (length " +
                    std::to_string(std::get<FrameDecoder::Item>(decoded).length) + ")");
            }
            frames_.emplace_back(body->begin(), body->end());
        }
        return true;
    }
}

std::optional<std::string> HostProcess::readFrame(milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (frames_.empty()) {
        // Looks at least once, so that a zero timeout takes what has already arrived.
        if (!pump(milliseconds(remainingMilliseconds(deadline))) || Clock::now() >= deadline) {
            if (frames_.empty())
                return std::nullopt;
        }
    }
    std::string frame = std::move(frames_.front());
    frames_.pop_front();
    return frame;
}

bool HostProcess::outputEndsWithin(milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    std::size_t before = outputBytes_.size();
    while (!outputEnded_ && Clock::now() < deadline) {
        pump(milliseconds(remainingMilliseconds(deadline)));
    }
    return outputEnded_ && outputBytes_.size() == before && frames_.empty();
}

const std::string& HostProcess::readAllOutput(milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (!outputEnded_ && Clock::now() < deadline) {
        pump(milliseconds(remainingMilliseconds(deadline)));
    }
    return outputBytes_;
}

std::optional<ExitStatus> HostProcess::wait(milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (!exit_) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            fail("waitpid");
        if (done == pid_) {
            exit_ = decodeStatus(status);
            break;
        }
        drainError();
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return exit_;
}

void HostProcess::drainError() {
    while (error_.isOpen()) {
        char chunk[4096];
        ssize_t count = ::read(error_.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count > 0) {
            standardError_.append(chunk, static_cast<std::size_t>(count));
            continue;
        }
        // End of the pipe: every writer, the child included, has gone.
        if (count == 0)
            error_.reset();
        return;
    }
}

const std::string& HostProcess::standardError() {
    if (exit_ && error_.isOpen()) {
        // The child has gone, so the pipe ends as soon as what it wrote is read.
        ::fcntl(error_.get(), F_SETFL, 0);
    }
    drainError();
    return standardError_;
}

Completed run(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment, std::string_view input,
              milliseconds timeout) {
    HostProcess process =
        HostProcess::spawn(program, arguments, environment, HostProcess::OutputKind::text);
    process.write(input);
    process.closeInput();
    Completed completed;
    completed.output = process.readAllOutput(timeout);
    std::optional<ExitStatus> status = process.wait(timeout);
    if (!status)
        throw std::runtime_error(program + " did not end in time");
    completed.status = *status;
    completed.error = process.standardError();
    return completed;
}

}  // namespace quenra::TestPeer
