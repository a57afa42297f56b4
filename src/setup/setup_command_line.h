// The setup program's command line: the argument scan and the four commands that serve scripts,
// installers and support without a window.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "setup_core/integration.h"

namespace quenra::SetupCommandLine {

inline constexpr std::string_view usageLine =
    "usage: quenra-bridge-setup [--status|--register|--unregister|--test] "
    "[--chrome-user-data-dir /path] [--replace] [--browser ID|all] [--development]\n";

// The usage line, then a line for each command and option with the browser ids of this system:
// --help prints it on standard output, an unknown command on standard error.
std::string usage();

struct Arguments {
    std::optional<std::string> command;  // one of the four command words; nothing: the window
    std::optional<std::string> chromeData;
    bool replace = false;
    // A browser id of this system, or "all"; nothing means Chrome, exactly as before browsers
    // could be named.
    std::optional<std::string> browser;
    bool development = false;

    bool operator==(const Arguments&) const = default;
};

// An argument the program refuses before touching anything: its message lines, exit status 2.
struct ArgumentError {
    std::string message;

    bool operator==(const ArgumentError&) const = default;
};

// --help anywhere: the usage on standard output, exit status 0.
struct HelpRequest {
    bool operator==(const HelpRequest&) const = default;
};

// arguments excludes the program path. The command and the options may come in any order; an
// option and its value are one unit wherever they stand. Refused: an unknown word, an option
// given twice, two commands, an option with a command it doesn't go with, options without a
// command.
std::variant<Arguments, ArgumentError, HelpRequest> scan(const std::vector<std::string>& arguments);

bool isCommand(std::string_view word);

// Runs the scanned command for each integration: one, or every browser with --browser all.
// Results go to out, failures' messages to err. The helper is tested once; with --browser all,
// each browser's failure is reported with its name and the others still run. Returns the exit
// status: 0 on success, 1 when any operation failed or when there is no browser at all.
int run(const std::vector<Integration>& integrations, const Arguments& arguments, std::ostream& out,
        std::ostream& err);

}  // namespace quenra::SetupCommandLine
