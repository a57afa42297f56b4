#include "setup_sandbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quenra::test {
namespace {

namespace fs = std::filesystem;

// Each run records its pid, keeps its input, then answers from the files beside it.
constexpr const char* fakeHelperScript = R"(#!/bin/sh
here=$(dirname "$0")
if [ "$1" = "--self-test" ]; then mode=self-test; else mode=hello; fi
echo $$ > "$here/$mode.pid"
printf '%s\n' "$@" > "$here/$mode.args"
cat > "$here/$mode.in"
if [ -f "$here/$mode.ignore-term" ]; then trap '' TERM; fi
if [ -f "$here/$mode.hang" ]; then exec sleep 600; fi
if [ -f "$here/$mode.out" ]; then cat "$here/$mode.out"; fi
status=0
if [ -f "$here/$mode.status" ]; then status=$(cat "$here/$mode.status"); fi
exit "$status"
)";

}  // namespace

SetupSandbox::SetupSandbox() {
    std::string pattern = (fs::temp_directory_path() / "quenra-setup-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    root_ = fs::canonical(pattern);
    home_ = root_ / "home";
    fs::create_directories(executables());
}

SetupSandbox::~SetupSandbox() {
    std::error_code error;
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(root_, error);
}

void SetupSandbox::installFakeHelper() const {
    writeFile(helper(), fakeHelperScript);
    fs::permissions(helper(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

void SetupSandbox::setOutput(const std::string& mode, const std::string& bytes) const {
    writeFile(executables() / (mode + ".out"), bytes);
}

void SetupSandbox::setStatus(const std::string& mode, int status) const {
    writeFile(executables() / (mode + ".status"), std::to_string(status));
}

void SetupSandbox::setHang(const std::string& mode, bool ignoreTerminate) const {
    writeFile(executables() / (mode + ".hang"), "");
    if (ignoreTerminate) {
        writeFile(executables() / (mode + ".ignore-term"), "");
    }
}

std::string SetupSandbox::receivedInput() const {
    return readFile(executables() / "hello.in");
}

std::string SetupSandbox::receivedArguments(const std::string& mode) const {
    return readFile(executables() / (mode + ".args"));
}

std::optional<int> SetupSandbox::lastPid(const std::string& mode) const {
    const fs::path path = executables() / (mode + ".pid");
    if (!fs::exists(path)) {
        return std::nullopt;
    }
    return std::stoi(readFile(path));
}

void SetupSandbox::answerCorrectly() const {
    setOutput("self-test", R"({"cache":"ok","dragBoard":"ok","helperVersion":"0.1.0"})"
                           "\n");
    setOutput("hello", frame(helloBodyOfSize(200)));
}

ProgramRun runProgram(const fs::path& program, const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment) {
    char outName[] = "/tmp/quenra-run-out-XXXXXX";
    char errName[] = "/tmp/quenra-run-err-XXXXXX";
    const int out = ::mkostemp(outName, O_CLOEXEC);
    const int err = ::mkostemp(errName, O_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    ProgramRun run;
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        ADD_FAILURE() << "cannot start " << program;
    } else {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out);
    ::close(err);
    run.out = readFile(outName);
    run.err = readFile(errName);
    ::unlink(outName);
    ::unlink(errName);
    return run;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream << bytes;
    if (!stream.flush()) {
        ADD_FAILURE() << "cannot write " << path;
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

std::string frame(const std::string& body) {
    std::string bytes;
    const auto length = static_cast<std::uint32_t>(body.size());
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<char>((length >> shift) & 0xff));
    }
    return bytes + body;
}

std::string helloBodyOfSize(std::size_t size) {
    const std::string head =
        R"({"capabilities":[],"helperVersion":"0.1.0","protocolVersion":"1.0",)"
        R"("requestId":"setup-test","type":"HELLO_OK","filler":")";
    const std::string tail = "\"}";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

}  // namespace quenra::test
