// Starting another program with its standard streams given by the caller: the one way the setup
// program's connection test and the tools start a child.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quenra::Subprocess {

// Descriptors for the child's standard input, output and error; -1 leaves that stream on
// /dev/null.
struct Streams {
    int input = -1;
    int output = -1;
    int error = -1;
};

// Starts program (its path is also the child's argv[0]) with arguments and, when environment is
// given, exactly those "NAME=value" entries, else this process's own. The child starts with the
// default handling of the signals programs expect to find so (SIGPIPE, SIGTERM, SIGINT, SIGHUP,
// SIGQUIT, SIGCHLD) and no signal blocked, whatever this process ignores or blocks. Returns the
// child's process id; throws std::system_error when it cannot be started.
int start(const std::string& program, const std::vector<std::string>& arguments,
          const std::optional<std::vector<std::string>>& environment, Streams streams);

}  // namespace quenra::Subprocess
