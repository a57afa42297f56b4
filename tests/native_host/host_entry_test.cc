#include "native_host/host_entry.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "bridge_core/files.h"

namespace quenra {
namespace {

const std::string hostPath = std::string(QUENRA_BUNDLE_EXECUTABLES) + "/quenra-native-host";
const std::string usage =
    "usage: quenra-native-host chrome-extension://<id>/ | --version | --self-test | --sweep\n";
const std::string version = "{\"helperVersion\":\"0.1.0\",\"protocolVersion\":\"1.0\"}\n";
const std::string release = "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/";
const std::string development = "chrome-extension://dgldcbgpnkooljhfhcjpkojcdnfkepnb/";

struct HostRun {
    int exitStatus = -1;  // -1 when ended by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

void drain(int descriptor, std::string& into) {
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(descriptor, buffer, sizeof buffer)) > 0) {
        into.append(buffer, static_cast<std::size_t>(count));
    }
}

// Runs the real host binary with the given arguments (argv[0] included), standard input
// empty, and standard output either captured or a pipe whose reader has gone.
HostRun runHost(const std::vector<std::string>& argv, bool closedStdout = false) {
    Files::Pipe in = Files::openPipe();
    Files::Pipe out = Files::openPipe();
    Files::Pipe err = Files::openPipe();
    if (closedStdout) {
        out.reading.reset();
    }
    std::vector<char*> pointers;
    for (const std::string& argument : argv) {
        pointers.push_back(const_cast<char*>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // An ignored SIGPIPE would survive exec and hide whether the host ignores it itself.
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(in.reading.get(), 0);
        ::dup2(out.writing.get(), 1);
        ::dup2(err.writing.get(), 2);
        ::execv(hostPath.c_str(), pointers.data());
        ::_exit(127);
    }
    in = {};
    out.writing.reset();
    err.writing.reset();
    HostRun run;
    if (!closedStdout) {
        drain(out.reading.get(), run.out);
    }
    drain(err.reading.get(), run.err);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status)) {
        run.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    return run;
}

TEST(HostEntry, CommandLineOfTheRealBinary) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;
    };
    const std::string refused = "quenra-native-host: caller-not-allowed\n";
    const std::vector<Case> cases = {
        {{}, 64, "", usage},
        {{""}, 64, "", usage},
        {{"--version"}, 0, version, ""},
        {{"--version", "--sweep"}, 0, version, ""},
        {{"--VERSION"}, 64, "", usage},
        {{"-version"}, 64, "", usage},
        {{"--version "}, 64, "", usage},
        {{"hello"}, 64, "", usage},
        {{"chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf"}, 1, "", refused},
        {{"chrome-extension://KEMBCDLBGBCNNCHCNBDHBMBHBEJNEDJF/"}, 1, "", refused},
        {{"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/"}, 1, "", refused},
        {{"chrome-extension://"}, 1, "", refused},
        {{"chrome-extension://x/", "--version"}, 1, "", refused},
        {{"Chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/"}, 64, "", usage},
        {{" " + release}, 64, "", usage},
        {{release + " "}, 1, "", refused},
        {{"--help"}, 64, "", usage},
    };
    for (const Case& test : cases) {
        std::vector<std::string> argv{hostPath};
        argv.insert(argv.end(), test.arguments.begin(), test.arguments.end());
        SCOPED_TRACE(test.arguments.empty() ? "(none)" : "\"" + test.arguments.front() + "\"");
        const HostRun run = runHost(argv);
        EXPECT_EQ(run.exitStatus, test.status);
        EXPECT_EQ(run.out, test.out);
        EXPECT_EQ(run.err, test.err);
    }
}

TEST(HostEntry, AClosedStandardOutputIsAWriteErrorNotASignal) {
    const HostRun run = runHost({hostPath, "--version"}, true);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
}

TEST(HostEntry, ChoosesByTheFirstArgumentInOrder) {
    using Action = HostEntry::Action;
    const std::vector<std::pair<std::vector<std::string>, Action>> cases = {
        {{}, Action::usage},
        {{"--version"}, Action::version},
        {{"--self-test", "--version"}, Action::selfTest},
        {{"--sweep"}, Action::sweep},
        {{release}, Action::serve},
        {{development, "--version"}, Action::serve},
        {{"chrome-extension://dgldcbgpnkooljhfhcjpkojcdnfkepnb"}, Action::refuse},
        {{"--Self-test"}, Action::usage},
        {{""}, Action::usage},
    };
    for (const auto& [arguments, action] : cases) {
        SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.front());
        EXPECT_EQ(HostEntry::choose(arguments), action);
    }
}

TEST(HostEntry, TheRuntimeCommandsRunWhenProvidedAndReturnTheirStatus) {
    std::vector<std::string> called;
    const HostEntry::Commands commands{
        [&] {
            called.push_back("serve");
            return 0;
        },
        [&] {
            called.push_back("self-test");
            return 1;
        },
        [&] {
            called.push_back("sweep");
            return 0;
        },
    };
    EXPECT_EQ(HostEntry::dispatch({release}, commands), 0);
    EXPECT_EQ(HostEntry::dispatch({development}, commands), 0);
    EXPECT_EQ(HostEntry::dispatch({"--self-test"}, commands), 1);
    EXPECT_EQ(HostEntry::dispatch({"--sweep", "x"}, commands), 0);
    EXPECT_EQ(called, (std::vector<std::string>{"serve", "serve", "self-test", "sweep"}));
}

TEST(HostEntry, VersionLineIsCompactSortedJsonAndALineFeed) {
    EXPECT_EQ(HostEntry::versionLine(), version);
    EXPECT_EQ(HostEntry::usageText, usage);
}

}  // namespace
}  // namespace quenra
