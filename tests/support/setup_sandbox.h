// A private home folder for setup tests, with an application bundle under its Applications
// folder whose helper is either a scripted fake or a copy of a real program.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "setup_core/integration.h"
#include "support/temporary_directory.h"

namespace quenra::testing {

struct ProgramRun {
    int status = -1;  // the exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

class SetupSandbox {
  public:
    SetupSandbox();
    SetupSandbox(const SetupSandbox&) = delete;
    SetupSandbox& operator=(const SetupSandbox&) = delete;

    // The home folder, links resolved, so paths compare exactly with the Integration's.
    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path bundle() const { return home_ / "Applications" / "Quenra Bridge.app"; }
    std::filesystem::path executables() const { return bundle() / "Contents" / "MacOS"; }
    std::filesystem::path helper() const { return executables() / "quenra-native-host"; }
    std::filesystem::path chromeData() const { return home_ / "chrome"; }

    // Installs the scripted fake helper below. Its behaviour per mode ("self-test" for the
    // --self-test run, "hello" for the Chrome-style run) is set with the files below.
    void installFakeHelper() const;
    // What the mode prints on standard output, and the status it exits with (default 0).
    void setOutput(const std::string& mode, const std::string& bytes) const;
    void setStatus(const std::string& mode, int status) const;
    // The mode sleeps instead of answering; with ignoreTerminate it also ignores SIGTERM.
    void setHang(const std::string& mode, bool ignoreTerminate) const;
    // What the last hello run received on standard input.
    std::string receivedInput() const;
    // The arguments of the last run of mode, one a line.
    std::string receivedArguments(const std::string& mode) const;
    // The process id the last run of mode wrote before it answered.
    std::optional<int> lastPid(const std::string& mode) const;
    // A valid self-test report and HELLO_OK frame for the fake to give back.
    void answerCorrectly() const;

    // Copies the built setup program into the bundle beside the helper, and runs that copy with
    // arguments in this home ("LANG=C", no other environment of ours).
    std::filesystem::path setupProgram() const { return executables() / "quenra-bridge-setup"; }
    void installSetupProgram() const;
    ProgramRun runSetup(const std::vector<std::string>& arguments) const;

  private:
    TemporaryDirectory root_;
    std::filesystem::path home_;
};

// Runs program with arguments and exactly the given environment ("NAME=value" entries), with
// no input, and waits for it.
ProgramRun runProgram(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment);

// A registration of another copy of the app at the integration's manifest path; its bytes.
std::string placeForeignManifest(const Integration& integration);
// Text with every "/" written as "\/", as the setup program's status line writes paths.
std::string escapedSlashes(const std::string& text);

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// 4-byte little-endian length, then body.
std::string frame(const std::string& body);
// A HELLO_OK body padded with a filler key to exactly size bytes (size must be >= ~120).
std::string helloBodyOfSize(std::size_t size);

}  // namespace quenra::testing
