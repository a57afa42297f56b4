#include "setup/setup_command_line.h"

#include <boost/json/value.hpp>
#include <exception>

#include "bridge_core/identity.h"
#include "bridge_core/json_writer.h"

namespace quenra {

bool SetupCommandLine::isCommand(std::string_view word) {
    return word == "--status" || word == "--register" || word == "--unregister" || word == "--test";
}

std::variant<SetupCommandLine::Arguments, SetupCommandLine::ArgumentError> SetupCommandLine::scan(
    const std::vector<std::string>& arguments) {
    Arguments scanned;
    if (!arguments.empty()) {
        scanned.command = arguments.front();
    }
    std::size_t index = 1;
    while (index < arguments.size()) {
        const std::string& argument = arguments[index];
        if (argument == "--chrome-user-data-dir" && !scanned.chromeData) {
            if (index + 1 >= arguments.size() || !arguments[index + 1].starts_with("/")) {
                return ArgumentError{"--chrome-user-data-dir requires an absolute path.\n"};
            }
            scanned.chromeData = arguments[index + 1];
            index += 2;
        } else if (argument == "--replace" && scanned.command == "--register" && !scanned.replace) {
            scanned.replace = true;
            index += 1;
        } else {
            return ArgumentError{"Unknown or repeated option: " + argument + "\n"};
        }
    }
    return scanned;
}

namespace {

void status(const Integration& integration, std::ostream& out) {
    const boost::json::value report = {
        {"helper", integration.helperPath()},
        {"manifest", integration.manifestPath()},
        {"registered", integration.isRegistered()},
        {"version", Identity::helperVersion},
    };
    out << *JsonWriter::write(report, {.escapeSlashes = true}) << "\n";
}

void registerHost(const Integration& integration, bool replace, std::ostream& out) {
    // A helper that fails its test is never registered; its result line stays printed.
    out << integration.testConnection() << "\n" << std::flush;
    const std::optional<std::string> backup = integration.registerHost(replace);
    out << "Registered: " << integration.manifestPath() << "\n";
    if (backup) {
        out << "Previous registration saved: " << *backup << "\n";
    }
}

}  // namespace

int SetupCommandLine::run(const Integration& integration, const std::string& command, bool replace,
                          std::ostream& out, std::ostream& err) {
    try {
        if (command == "--status") {
            status(integration, out);
        } else if (command == "--register") {
            registerHost(integration, replace, out);
        } else if (command == "--unregister") {
            integration.unregister();
            out << "This app's Chrome integration was removed. MIDI files were retained.\n";
        } else if (command == "--test") {
            out << integration.testConnection() << "\n";
        }
        out << std::flush;
        return 0;
    } catch (const std::exception& failure) {
        // SetupFailure in its own words, the system's errors in theirs.
        out << std::flush;
        err << failure.what() << "\n" << std::flush;
        return 1;
    }
}

}  // namespace quenra
