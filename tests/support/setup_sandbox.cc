#include "setup_sandbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_peer/host_process.h"

namespace quenra::testing {
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

SetupSandbox::SetupSandbox() : home_(fs::path(root_.path()) / "home") {
    fs::create_directories(executables());
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
    // Far beyond the connection test's own two time limits.
    const TestPeer::Completed completed =
        TestPeer::run(program.string(), arguments, environment, {}, std::chrono::seconds(60));
    ProgramRun run;
    run.status = completed.status.exited ? completed.status.code : -1;
    run.out = completed.output;
    run.err = completed.error;
    return run;
}

void SetupSandbox::installSetupProgram() const {
    fs::copy_file(fs::path(QUENRA_BUNDLE_EXECUTABLES) / "quenra-bridge-setup", setupProgram(),
                  fs::copy_options::overwrite_existing);
}

ProgramRun SetupSandbox::runSetup(const std::vector<std::string>& arguments) const {
    return runProgram(setupProgram(), arguments,
                      {"HOME=" + home().string(), "LANG=C", "PATH=/usr/bin:/bin"});
}

std::string placeForeignManifest(const Integration& integration) {
    HostRegistration other = integration.expected();
    other.path = "/Applications/Other.app/Contents/MacOS/quenra-native-host";
    fs::create_directories(integration.hostDirectory());
    writeFile(integration.manifestPath(), other.encode());
    return other.encode();
}

std::string escapedSlashes(const std::string& text) {
    std::string escaped;
    for (const char character : text) {
        if (character == '/') {
            escaped += '\\';
        }
        escaped += character;
    }
    return escaped;
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

}  // namespace quenra::testing
