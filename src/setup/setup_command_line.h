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

inline constexpr std::string_view usage =
    "usage: quenra-bridge-setup [--status|--register|--unregister|--test] "
    "[--chrome-user-data-dir /path] [--replace]\n";

struct Arguments {
    std::optional<std::string> command;  // the first argument, whatever it is
    std::optional<std::string> chromeData;
    bool replace = false;
    // A browser id of this system, or "all"; nothing means Chrome, exactly as before browsers
    // could be named.
    std::optional<std::string> browser;

    bool operator==(const Arguments&) const = default;
};

// An argument the program refuses before touching anything: its message line, exit status 2.
struct ArgumentError {
    std::string message;

    bool operator==(const ArgumentError&) const = default;
};

// arguments excludes the program path. Options follow the command and are scanned before the
// command word is judged, so an unknown command followed by a bad option names the option.
std::variant<Arguments, ArgumentError> scan(const std::vector<std::string>& arguments);

bool isCommand(std::string_view word);

// Runs one of the four commands; results go to out, a failure's message to err. Returns the
// exit status: 0 on success, 1 when the operation failed.
int run(const Integration& integration, const std::string& command, bool replace, std::ostream& out,
        std::ostream& err);

// Runs the command for every integration (--browser all): the helper is tested once, each
// browser's failure is reported with its name and the others still run. Returns 1 when any
// failed or when there is no browser at all.
int runForEach(const std::vector<Integration>& integrations, const std::string& command,
               bool replace, std::ostream& out, std::ostream& err);

}  // namespace quenra::SetupCommandLine
