#include "native_host/host_entry.h"

#include <unistd.h>

#include <boost/json/object.hpp>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "bridge_core/files.h"
#include "bridge_core/identity.h"
#include "bridge_core/json_writer.h"
#include "bridge_core/log.h"

namespace quenra {
namespace {

constexpr std::string_view extensionScheme = "chrome-extension://";

// The whole text in one write in practice; a failure (EPIPE on a closed pipe) drops the rest.
void writeAll(int descriptor, std::string_view text) {
    try {
        Files::writeAll(descriptor, bytesOf(text));
    } catch (const FileFailure&) {
        // Nobody is left to tell; the exit status still says what happened.
    }
}

int usage() {
    writeAll(STDERR_FILENO, HostEntry::usageText);
    return 64;
}

}  // namespace

HostEntry::Action HostEntry::choose(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return Action::usage;
    }
    const std::string& first = arguments.front();
    if (first == "--version") {
        return Action::version;
    }
    if (first == "--self-test") {
        return Action::selfTest;
    }
    if (first == "--sweep") {
        return Action::sweep;
    }
    if (Identity::isAllowedCaller(first)) {
        return Action::serve;
    }
    if (first.starts_with(extensionScheme)) {
        return Action::refuse;
    }
    return Action::usage;
}

std::string HostEntry::versionLine() {
    const boost::json::object version{{"helperVersion", Identity::helperVersion},
                                      {"protocolVersion", Identity::protocolVersion}};
    return JsonWriter::write(version).value() + "\n";
}

int HostEntry::dispatch(const std::vector<std::string>& arguments, const Commands& commands) {
    const auto runOrUsage = [](const std::function<int()>& command) {
        return command ? command() : usage();
    };
    switch (choose(arguments)) {
        case Action::version:
            writeAll(STDOUT_FILENO, versionLine());
            return 0;
        case Action::selfTest:
            return runOrUsage(commands.selfTest);
        case Action::sweep:
            return runOrUsage(commands.sweep);
        case Action::serve:
            return runOrUsage(commands.serve);
        case Action::refuse:
            // Refused before anything is opened, read or written on the protocol streams.
            Log::note("caller-not-allowed");
            return 1;
        case Action::usage:
            break;
    }
    return usage();
}

void HostEntry::run(int argc, char** argv, const Commands& commands) {
    // First of all: a write to a closed standard output must fail with EPIPE, not kill us.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.emplace_back(argv[index]);
    }
    const int status = dispatch(arguments, commands);
    // _Exit runs no destructors or atexit handlers that could race the runtime's threads, so
    // anything a command left in stdio buffers goes out first.
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace quenra
