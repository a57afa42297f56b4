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
        } else if (argument == "--browser" && !scanned.browser) {
            if (index + 1 >= arguments.size()) {
                return ArgumentError{"--browser requires one of: " + Browsers::idList() + "\n"};
            }
            const std::string& id = arguments[index + 1];
            if (id != Browsers::all && !Browsers::find(id)) {
                return ArgumentError{"Unknown browser: " + id + " (known: " + Browsers::idList() +
                                     ")\n"};
            }
            scanned.browser = id;
            index += 2;
        } else {
            return ArgumentError{"Unknown or repeated option: " + argument + "\n"};
        }
    }
    // One directory can't stand for every browser.
    if (scanned.browser == Browsers::all && scanned.chromeData) {
        return ArgumentError{"--chrome-user-data-dir cannot be used with --browser all.\n"};
    }
    return scanned;
}

namespace {

boost::json::object statusReport(const Integration& integration) {
    return {
        {"helper", integration.helperPath()},
        {"manifest", integration.manifestPath()},
        {"registered", integration.isRegistered()},
        {"version", Identity::helperVersion},
    };
}

void status(const Integration& integration, std::ostream& out) {
    out << *JsonWriter::write(statusReport(integration), {.escapeSlashes = true}) << "\n";
}

std::string removedLine(const Integration& integration) {
    return "This app's " + integration.browser().displayName +
           " integration was removed. MIDI files were retained.\n";
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
            out << removedLine(integration);
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

int SetupCommandLine::runForEach(const std::vector<Integration>& integrations,
                                 const std::string& command, bool replace, std::ostream& out,
                                 std::ostream& err) {
    if (integrations.empty()) {
        err << "No supported browser found: none of their user-data folders exists. Open the "
               "browser once, or name it with --browser.\n"
            << std::flush;
        return 1;
    }
    if (command == "--test") {
        return run(integrations.front(), command, replace, out, err);
    }
    if (command == "--register") {
        // Tested once: every browser starts the same helper.
        try {
            out << integrations.front().testConnection() << "\n" << std::flush;
        } catch (const std::exception& failure) {
            err << failure.what() << "\n" << std::flush;
            return 1;
        }
    }
    int exitStatus = 0;
    for (const Integration& integration : integrations) {
        try {
            if (command == "--status") {
                boost::json::object report = statusReport(integration);
                report["browser"] = integration.browser().id;
                out << *JsonWriter::write(report, {.escapeSlashes = true}) << "\n";
            } else if (command == "--register") {
                const std::optional<std::string> backup = integration.registerHost(replace);
                out << "Registered: " << integration.manifestPath() << "\n";
                if (backup) {
                    out << "Previous registration saved: " << *backup << "\n";
                }
            } else if (command == "--unregister") {
                integration.unregister();
                out << removedLine(integration);
            }
            out << std::flush;
        } catch (const std::exception& failure) {
            out << std::flush;
            err << integration.browser().displayName << ": " << failure.what() << "\n"
                << std::flush;
            exitStatus = 1;
        }
    }
    return exitStatus;
}

}  // namespace quenra
