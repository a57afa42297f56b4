// The real host under an address-space limit (RLIMIT_AS), as a browser starts it on a machine
// that has run out of memory: whatever fails first (its start, the reader thread, a clip's
// buffers), the host ends with an answer or with its log line and exit status, never by a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bridge_core/framing.h"
#include "support/temporary_directory.h"
#include "test_peer/host_process.h"
#include "test_peer/midi_clip.h"
#include "test_peer/requests.h"

namespace quenra::testing {
namespace {

namespace Requests = TestPeer::Requests;

const std::string origin = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";

struct Limited {
    rlim_t addressSpace = RLIM_INFINITY;
    rlim_t stack = 8 << 20;  // the usual default, which sizes each thread's stack
};

struct Ended {
    int status = -1;  // the exit status, or -1 when a signal ended it
    int signal = 0;
    std::string output;
    std::string error;
};

// Runs the host with arguments under the limits, its standard input read from a file holding
// input, in a home of its own; everything it needs is made before the fork, so that the child
// only sets its limits and starts the program.
Ended runLimited(const TemporaryDirectory& home, const std::vector<std::string>& arguments,
                 const std::string& input, Limited limits) {
    const std::string inputPath = home.join("input");
    const std::string outputPath = home.join("output");
    const std::string errorPath = home.join("error");
    writeFileText(inputPath, input);
    const std::string program = TestPeer::defaultHostPath();
    std::vector<std::string> environment = TestPeer::isolatedEnvironment(home.path());
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const int in = ::open(inputPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit stack{limits.stack, RLIM_INFINITY};
        const rlimit space{limits.addressSpace, limits.addressSpace};
        if (::dup2(in, STDIN_FILENO) < 0 || ::dup2(out, STDOUT_FILENO) < 0 ||
            ::dup2(err, STDERR_FILENO) < 0 || ::setrlimit(RLIMIT_STACK, &stack) != 0 ||
            ::setrlimit(RLIMIT_AS, &space) != 0) {
            ::_exit(90);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(91);
    }
    ::close(in);
    ::close(out);
    ::close(err);
    int raw = 0;
    while (::waitpid(pid, &raw, 0) < 0) {
    }
    Ended ended;
    if (WIFEXITED(raw)) {
        ended.status = WEXITSTATUS(raw);
    } else {
        ended.signal = WTERMSIG(raw);
    }
    ended.output = readFileText(outputPath);
    ended.error = readFileText(errorPath);
    return ended;
}

// The bodies of the frames in output, which must hold nothing else.
std::vector<std::string> framesOf(const std::string& output) {
    std::vector<std::string> frames;
    std::size_t at = 0;
    while (output.size() - at >= 4) {
        std::uint32_t length = 0;
        std::memcpy(&length, output.data() + at, 4);
        if (output.size() - at - 4 < length) {
            break;
        }
        frames.push_back(output.substr(at + 4, length));
        at += 4 + length;
    }
    EXPECT_EQ(at, output.size()) << "bytes that are not a whole frame";
    return frames;
}

std::string framed(const std::string& payload) {
    const ByteBuffer frame = FrameEncoder::frame(payload);
    return std::string(frame.begin(), frame.end());
}

const Requests::Session session{"address-space-session-01", 1};

TEST(AddressSpace, AReaderThreadThatCannotStartEndsTheHostWithItsOwnLine) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory takes more address space than any limit";
#endif
    TemporaryDirectory home;
    // Each new thread asks for a stack the size of the stack limit, more than the address space
    // allows; the main thread's stack grows only as it is used.
    const Ended ended = runLimited(home, {origin}, framed(Requests::hello(session, "hello-1")),
                                   {.addressSpace = 256 << 20, .stack = rlim_t{1} << 30});
    EXPECT_EQ(ended.signal, 0);
    EXPECT_EQ(ended.status, 1);
    EXPECT_EQ(ended.error, "quenra-native-host: reader-unavailable\n");
    EXPECT_EQ(ended.output, "");
}

// From the least address space that lets the program start at all (its "--version" runs) up
// to enough for a 1 MiB PREPARE: every host answers, or ends with its log line and status 1.
TEST(AddressSpace, UnderEveryLimitTheHostAnswersOrEndsWithItsLogLine) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory takes more address space than any limit";
#endif
    TemporaryDirectory home;
    const std::vector<std::uint8_t> clip = TestPeer::MidiClip::generate(1 << 20);
    const std::string input =
        framed(Requests::hello(session, "hello-1")) +
        framed(Requests::prepare(session, "prepare-1", "clip-a", 1, clip, "Clip"));
    int started = 0;
    int readerUnavailable = 0;
    int prepared = 0;
    for (rlim_t limit = 4 << 20; limit <= 48 << 20; limit += 512 << 10) {
        SCOPED_TRACE(std::to_string(limit >> 10) + " KiB");
        const Ended version = runLimited(home, {"--version"}, "", {.addressSpace = limit});
        if (version.status != 0) {
            continue;  // the program itself (its libraries, the C++ runtime) cannot start
        }
        ++started;
        const Ended ended = runLimited(home, {origin}, input, {.addressSpace = limit});
        ASSERT_EQ(ended.signal, 0) << ended.error;
        const std::vector<std::string> frames = framesOf(ended.output);
        if (ended.status == 1) {
            const std::string last =
                ended.error.substr(ended.error.rfind('\n', ended.error.size() - 2) + 1);
            EXPECT_TRUE(last == "quenra-native-host: out-of-memory\n" ||
                        last == "quenra-native-host: reader-unavailable\n")
                << ended.error;
            readerUnavailable += last == "quenra-native-host: reader-unavailable\n";
            continue;
        }
        ASSERT_EQ(ended.status, 0) << ended.error;
        ASSERT_EQ(frames.size(), 2u) << ended.error;
        EXPECT_EQ(Requests::text(Requests::parse(frames[0]), "type"), "HELLO_OK");
        const boost::json::object reply = Requests::parse(frames[1]);
        if (Requests::text(reply, "type") == "PREPARED") {
            ++prepared;
        } else {
            EXPECT_EQ(Requests::text(reply, "code"), "INTERNAL") << frames[1];
        }
    }
    EXPECT_GT(started, 0);
    EXPECT_GT(readerUnavailable, 0);
    EXPECT_GT(prepared, 0);
}

}  // namespace
}  // namespace quenra::testing
