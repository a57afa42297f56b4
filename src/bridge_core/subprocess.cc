#include "bridge_core/subprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <system_error>
#include <type_traits>

extern char** environ;

namespace quenra {
namespace {

static_assert(std::is_same_v<pid_t, int>, "process ids travel as int");

std::vector<char*> pointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (const std::string& text : texts) {
        pointers.push_back(const_cast<char*>(text.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

int Subprocess::start(const std::string& program, const std::vector<std::string>& arguments,
                      const std::optional<std::vector<std::string>>& environment, Streams streams) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int standard[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
    const int given[] = {streams.input, streams.output, streams.error};
    for (int index = 0; index < 3; ++index) {
        if (given[index] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, given[index], standard[index]);
        } else {
            posix_spawn_file_actions_addopen(&actions, standard[index], "/dev/null",
                                             index == 0 ? O_RDONLY : O_WRONLY, 0);
        }
    }

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> argumentsWithProgram{program};
    argumentsWithProgram.insert(argumentsWithProgram.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = pointersTo(argumentsWithProgram);
    std::vector<char*> envp;
    if (environment) {
        envp = pointersTo(*environment);
    }
    pid_t pid = -1;
    const int result = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(),
                                     environment ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        throw std::system_error(result, std::generic_category(), "start " + program);
    }
    return pid;
}

}  // namespace quenra
