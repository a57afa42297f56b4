#include "test_peer/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "platform/system_files.h"

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

void closeDescriptor(int& descriptor) {
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
}

int remainingMilliseconds(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Every spawn of this peer holds this lock while it makes its pipes and starts the child. Where
// the system has no pipe2 (macOS), the platform makes a pipe and then marks its ends
// close-on-exec; a child that another thread started between the two steps would inherit the
// ends and keep a host's input open after the peer closed it.
std::mutex spawnLock;

void openCloseOnExecPipe(int ends[2]) {
    if (!SystemFiles::openPipe(ends))
        fail("pipe");
}

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
    int input[2], output[2], error[2];
    openCloseOnExecPipe(input);
    openCloseOnExecPipe(output);
    openCloseOnExecPipe(error);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, error[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    int result =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    ::close(output[1]);
    ::close(error[1]);
    if (result != 0) {
        ::close(input[1]);
        ::close(output[0]);
        ::close(error[0]);
        errno = result;
        fail("spawn " + program);
    }
    ::fcntl(error[0], F_SETFL, O_NONBLOCK);
    return HostProcess(pid, input[1], output[0], error[0], outputKind);
}

HostProcess::HostProcess(pid_t pid, int input, int output, int error, OutputKind outputKind)
    : pid_(pid), input_(input), output_(output), error_(error), outputKind_(outputKind) {}

HostProcess::HostProcess(HostProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      error_(std::exchange(other.error_, -1)),
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
    closeDescriptor(input_);
    closeDescriptor(output_);
    closeDescriptor(error_);
}

bool HostProcess::write(std::span<const std::uint8_t> bytes) {
    std::size_t position = 0;
    while (position < bytes.size()) {
        if (input_ < 0)
            return false;
        ssize_t written = ::write(input_, bytes.data() + position, bytes.size() - position);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        position += static_cast<std::size_t>(written);
    }
    return true;
}

bool HostProcess::write(std::string_view bytes) {
    return write(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

bool HostProcess::send(std::string_view payload) {
    return write(FrameEncoder::frame(payload));
}

void HostProcess::closeInput() {
    closeDescriptor(input_);
}

void HostProcess::closeOutput() {
    closeDescriptor(output_);
    outputEnded_ = true;
}

bool HostProcess::pump(milliseconds timeout) {
    if (outputEnded_)
        return false;
    Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        drainError();
        pollfd descriptors[1] = {{output_, POLLIN, 0}};
        int ready = ::poll(descriptors, 1, remainingMilliseconds(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            fail("poll");
        if (ready == 0)
            return true;
        char chunk[65536];
        ssize_t count = ::read(output_, chunk, sizeof chunk);
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
        for (FrameDecoder::Item& item : decoder_.append(bytes)) {
            if (item.kind != FrameDecoder::Item::Kind::frame) {
                throw std::runtime_error("the host wrote a frame no peer accepts (length " +
                                         std::to_string(item.length) + ")");
            }
            frames_.emplace_back(item.body.begin(), item.body.end());
        }
        return true;
    }
}

std::optional<std::string> HostProcess::readFrame(milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    while (frames_.empty()) {
        if (Clock::now() >= deadline || !pump(milliseconds(remainingMilliseconds(deadline)))) {
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
    while (error_ >= 0) {
        char chunk[4096];
        ssize_t count = ::read(error_, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count > 0) {
            standardError_.append(chunk, static_cast<std::size_t>(count));
            continue;
        }
        // End of the pipe: every writer, the child included, has gone.
        if (count == 0)
            closeDescriptor(error_);
        return;
    }
}

const std::string& HostProcess::standardError() {
    if (exit_ && error_ >= 0) {
        // The child has gone, so the pipe ends as soon as what it wrote is read.
        ::fcntl(error_, F_SETFL, 0);
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
