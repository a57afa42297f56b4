// The entry of quenra-native-host: from the first argument alone it prints the version, runs a
// maintenance command, serves a browser connection, or refuses. It never returns; the exit
// status is the program's.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenra::HostEntry {

enum class Action { usage, version, selfTest, sweep, serve, refuse };

inline constexpr std::string_view usageText =
    "usage: quenra-native-host chrome-extension://<id>/ | --version | --self-test | --sweep\n";

// The branches that need the runtime. Each returns the exit status; serve returns only if the
// main run loop does. A branch left empty is not offered: its argument falls to usage.
struct Commands {
    std::function<int()> serve;
    std::function<int()> selfTest;
    std::function<int()> sweep;
};

// Decided by the first argument only, tested in the order: "--version", "--self-test",
// "--sweep", an allowed caller, anything else starting with "chrome-extension://".
Action choose(const std::vector<std::string>& arguments);

// {"helperVersion":"0.1.0","protocolVersion":"1.0"} and a line feed.
std::string versionLine();

// Performs the chosen action and returns the exit status (0, 1 or 64, or a command's own).
int dispatch(const std::vector<std::string>& arguments, const Commands& commands);

// Ignores SIGPIPE before anything else, dispatches on argv without the program name, and ends
// the process with the status. All output goes out through write(2), so nothing is buffered.
[[noreturn]] void run(int argc, char** argv, const Commands& commands);

}  // namespace quenra::HostEntry
