#include "setup_core/connection_check.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

#include "bridge_core/files.h"
#include "bridge_core/framing.h"
#include "bridge_core/identity.h"
#include "bridge_core/json_writer.h"
#include "bridge_core/limits.h"
#include "bridge_core/subprocess.h"
#include "setup_core/setup_failure.h"
#include "setup_core/uuid.h"

namespace quenra {
namespace {

using Clock = std::chrono::steady_clock;

// Far above any valid answer (one frame of at most 65540 bytes, or a one-line report); past it
// the helper's output is drained and dropped so the helper can still finish.
constexpr std::size_t maxHelperOutputBytes = 1 << 20;

[[noreturn]] void throwSystemError(int code, const std::string& operation) {
    throw std::system_error(code, std::generic_category(), operation);
}

// A started helper. Whatever path leaves the test, the process is gone and reaped afterwards.
class Child {
  public:
    explicit Child(pid_t pid) : pid_(pid) {}
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (!status_) {
            terminate();
        }
    }

    // The exit status once the helper has ended; nothing while it runs.
    std::optional<int> poll() {
        if (!status_) {
            int status = 0;
            pid_t result;
            do {
                result = ::waitpid(pid_, &status, WNOHANG);
            } while (result < 0 && errno == EINTR);
            if (result == pid_ || (result < 0 && errno == ECHILD)) {
                status_ = result == pid_ ? status : -1;
            }
        }
        return status_;
    }

    // SIGTERM first so a real helper can shut its session down; SIGKILL when it won't.
    void terminate() {
        ::kill(pid_, SIGTERM);
        const Clock::time_point killAt = Clock::now() + ConnectionCheck::terminationGrace;
        while (!poll() && Clock::now() < killAt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!poll()) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            status_ = status;
        }
    }

  private:
    pid_t pid_;
    std::optional<int> status_;
};

// Writes to a pipe whose reader may already be gone without letting SIGPIPE end this process:
// the signal is blocked for this thread and, if the write raised it, taken off again.
void writeInput(int fd, const std::string& input) {
    sigset_t pipeSignal, previous, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    int failure = 0;
    try {
        Files::writeAll(fd, bytesOf(input));
    } catch (const FileFailure& failed) {
        failure = failed.errorNumber();
    }
    sigpending(&pending);
    if (!wasPending && sigismember(&pending, SIGPIPE) == 1) {
        int taken = 0;
        sigwait(&pipeSignal, &taken);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (failure != 0) {
        throwSystemError(failure, "write to the native helper");
    }
}

// What the helper wrote while the check waited for it.
struct HelperOutput {
    std::string bytes;
    bool overflowed = false;  // more than maxHelperOutputBytes; the rest was dropped
    bool ended = false;       // every writer of the output has closed it
};

// One read of the helper's output, which poll found readable, into output.
void readOutput(int reading, std::vector<char>& chunk, HelperOutput& output) {
    const ssize_t count = ::read(reading, chunk.data(), chunk.size());
    if (count < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return;
        }
        throwSystemError(errno, "read the native helper's output");
    }
    if (count == 0) {
        output.ended = true;
    } else if (output.bytes.size() + static_cast<std::size_t>(count) > maxHelperOutputBytes) {
        output.overflowed = true;
    } else {
        output.bytes.append(chunk.data(), static_cast<std::size_t>(count));
    }
}

// Reads as the helper writes, and polls its state every 20 ms, until the deadline or until the
// helper is done: it has exited and every writer of its output has closed it.
HelperOutput collectOutput(Child& child, int reading, Clock::time_point deadline) {
    HelperOutput output;
    std::vector<char> chunk(65536);
    while (!(output.ended && child.poll())) {
        const auto remaining =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining.count() <= 0) {
            break;
        }
        if (output.ended) {
            std::this_thread::sleep_for(std::min(remaining, std::chrono::milliseconds(20)));
            continue;
        }
        pollfd readable{.fd = reading, .events = POLLIN, .revents = 0};
        const int ready =
            ::poll(&readable, 1, static_cast<int>(std::min<std::int64_t>(remaining.count(), 20)));
        if (ready < 0 && errno != EINTR) {
            throwSystemError(errno, "poll the native helper's output");
        }
        if (ready > 0) {
            readOutput(reading, chunk, output);
        }
    }
    return output;
}

bool isString(const boost::json::object& object, std::string_view key, std::string_view text) {
    const boost::json::value* value = object.if_contains(key);
    return value != nullptr && value->is_string() && value->get_string() == text;
}

[[noreturn]] void invalidReply() {
    throw SetupFailure(SetupFailure::Kind::invalidReply);
}

}  // namespace

std::string ConnectionCheck::runHelper(const std::string& program,
                                       const std::vector<std::string>& arguments,
                                       const std::optional<std::string>& input,
                                       std::chrono::milliseconds timeLimit) {
    Files::Pipe standardInput = Files::openPipe();
    Files::Pipe standardOutput = Files::openPipe();
    // Its standard error goes nowhere: only its answer on standard output is judged.
    Child child(Subprocess::start(
        program, arguments, std::nullopt,
        {.input = standardInput.reading.get(), .output = standardOutput.writing.get()}));
    standardInput.reading.reset();
    standardOutput.writing.reset();

    if (input) {
        writeInput(standardInput.writing.get(), *input);
    }
    if (!standardInput.writing.close()) {
        throwSystemError(errno, "close the native helper's input");
    }

    const HelperOutput output =
        collectOutput(child, standardOutput.reading.get(), Clock::now() + timeLimit);
    const std::optional<int> status = child.poll();
    if (!status) {
        child.terminate();
        throw SetupFailure(SetupFailure::Kind::timeout);
    }
    if (!output.ended) {
        // The helper exited but left something behind that still holds its output open.
        throw SetupFailure(SetupFailure::Kind::timeout);
    }
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0 || output.overflowed) {
        invalidReply();
    }
    return output.bytes;
}

std::string ConnectionCheck::connectionRequest() {
    const boost::json::value body = {
        {"protocolVersion", Identity::protocolVersion},
        {"type", "HELLO"},
        {"requestId", "setup-test"},
        {"extensionVersion", Identity::helperVersion},
        {"session", {{"id", "setup-" + UUID::random()}, {"epoch", 1}}},
    };
    const ByteBuffer frame = FrameEncoder::frame(*JsonWriter::write(body));
    return std::string(frame.begin(), frame.end());
}

void ConnectionCheck::checkSelfTest(std::string_view output) {
    const boost::json::value report = boost::json::parse(output);
    const boost::json::object* object = report.if_object();
    if (object == nullptr || !isString(*object, "cache", "ok") ||
        !isString(*object, "dragBoard", "ok")) {
        invalidReply();
    }
}

void ConnectionCheck::checkHelloReply(std::string_view output) {
    if (output.size() < 4) {
        invalidReply();
    }
    std::uint64_t length = 0;
    for (int index = 3; index >= 0; --index) {
        length =
            (length << 8) | static_cast<unsigned char>(output[static_cast<std::size_t>(index)]);
    }
    if (length > static_cast<std::uint64_t>(Limits::standard().maxResponseFrameBytes) ||
        static_cast<std::uint64_t>(output.size()) != length + 4) {
        invalidReply();
    }
    const boost::json::value reply = boost::json::parse(output.substr(4));
    const boost::json::object* object = reply.if_object();
    if (object == nullptr || !isString(*object, "type", "HELLO_OK") ||
        !isString(*object, "requestId", "setup-test") ||
        !isString(*object, "protocolVersion", Identity::protocolVersion) ||
        !isString(*object, "helperVersion", Identity::helperVersion)) {
        invalidReply();
    }
}

std::string ConnectionCheck::successText() {
    return "Helper " + std::string(Identity::helperVersion) +
           ": cache, drag pasteboard and Native Messaging HELLO passed.";
}

}  // namespace quenra
