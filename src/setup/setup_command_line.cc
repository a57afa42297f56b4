#include "setup/setup_command_line.h"

#include <boost/json/value.hpp>
#include <exception>

#include "bridge_core/identity.h"
#include "bridge_core/json_writer.h"
#include "setup_core/failure_text.h"

namespace quenra {
namespace {

using FailureText::Operation;
using SetupCommandLine::ArgumentError;

constexpr std::string_view unknownOption = "Unknown or repeated option: ";

ArgumentError refused(const std::string& argument, const std::string& why) {
    return ArgumentError{std::string(unknownOption) + argument + "\n" + why + "\n"};
}

std::string twice(const std::string& option) {
    return option + " is given twice.";
}

// A refusal as soon as both halves of a mismatch have been seen, whichever came first. An unknown
// first word stands in for the command here, so that "--bogus --replace" names --replace.
std::optional<ArgumentError> mismatch(const SetupCommandLine::Arguments& scanned,
                                      const std::optional<std::string>& unknownCommand) {
    const std::optional<std::string> command = scanned.command ? scanned.command : unknownCommand;
    if (scanned.replace && command && *command != "--register") {
        return refused("--replace", "--replace goes only with --register.");
    }
    // One directory can't stand for every browser.
    if (scanned.browser == Browsers::all && scanned.chromeData) {
        return ArgumentError{"--chrome-user-data-dir cannot be used with --browser all.\n"};
    }
    return std::nullopt;
}

std::optional<ArgumentError> browserRefusal(const std::optional<std::string>& id) {
    if (!id) {
        return ArgumentError{"--browser requires one of: " + Browsers::idList() + "\n"};
    }
    if (*id == Browsers::all || Browsers::find(*id)) {
        return std::nullopt;
    }
    if (const std::optional<Browser> elsewhere = Browsers::findElsewhere(*id)) {
        return ArgumentError{Browsers::onlyElsewhere(*elsewhere) + "\n"};
    }
    return ArgumentError{"Unknown browser: " + *id + " (known: " + Browsers::idList() + ")\n"};
}

}  // namespace

std::string SetupCommandLine::usage() {
    std::string ids;
    for (const Browser& browser : Browsers::supported()) {
        ids += (ids.empty() ? "" : ", ") + browser.id;
    }
    return std::string(usageLine) +
           "  --status        print whether this copy is registered, as one JSON line\n"
           "  --register      test the helper, then register it with the browser\n"
           "  --unregister    remove this copy's registration; MIDI files are kept\n"
           "  --test          test the helper only\n"
           "  --chrome-user-data-dir /path\n"
           "                  register in that user-data folder instead of the browser's own\n"
           "  --replace       with --register: back up another copy's registration and replace it\n"
           "  --browser ID    the browser to work on (default chrome), ID being one of\n"
           "                  " +
           ids +
           "\n"
           "  --browser all   every one of those browsers that has run for this user\n"
           "  --development   the development extension's registration (" +
           std::string(Identity::developmentHostName) +
           "),\n"
           "                  beside the release one\n"
           "The command and the options may come in any order. Without arguments the setup window "
           "opens.\n";
}

bool SetupCommandLine::isCommand(std::string_view word) {
    return word == "--status" || word == "--register" || word == "--unregister" || word == "--test";
}

namespace {

// Takes the command or option at index (with its value, when it has one) into scanned. Returns
// how many words it took, or why it is refused. An unknown first word is kept in unknownCommand.
std::variant<std::size_t, ArgumentError> take(const std::vector<std::string>& arguments,
                                              std::size_t index,
                                              SetupCommandLine::Arguments& scanned,
                                              std::optional<std::string>& unknownCommand) {
    const std::string& argument = arguments[index];
    const std::optional<std::string> value =
        index + 1 < arguments.size() ? std::optional(arguments[index + 1]) : std::nullopt;
    if (SetupCommandLine::isCommand(argument)) {
        if (scanned.command) {
            return refused(argument, *scanned.command == argument
                                         ? twice(argument)
                                         : *scanned.command + " and " + argument +
                                               " are two commands; give one of them.");
        }
        scanned.command = argument;
        return std::size_t{1};
    }
    if (argument == "--chrome-user-data-dir") {
        if (scanned.chromeData) {
            return refused(argument, twice(argument));
        }
        if (!value || !value->starts_with("/")) {
            return ArgumentError{"--chrome-user-data-dir requires an absolute path.\n"};
        }
        scanned.chromeData = value;
        return std::size_t{2};
    }
    if (argument == "--browser") {
        if (scanned.browser) {
            return refused(argument, twice(argument));
        }
        if (const std::optional<ArgumentError> refusal = browserRefusal(value)) {
            return *refusal;
        }
        scanned.browser = value;
        return std::size_t{2};
    }
    if (argument == "--replace" || argument == "--development") {
        bool& flag = argument == "--replace" ? scanned.replace : scanned.development;
        if (flag) {
            return refused(argument, twice(argument));
        }
        flag = true;
        return std::size_t{1};
    }
    if (index == 0) {
        unknownCommand = argument;
        return std::size_t{1};
    }
    return refused(argument, "Run quenra-bridge-setup --help for the commands and options.");
}

}  // namespace

std::variant<SetupCommandLine::Arguments, SetupCommandLine::ArgumentError,
             SetupCommandLine::HelpRequest>
SetupCommandLine::scan(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--help") {
            return HelpRequest{};
        }
    }
    Arguments scanned;
    // The spelling of an unknown first word: taken for a command the program doesn't have.
    std::optional<std::string> unknownCommand;
    std::size_t index = 0;
    while (index < arguments.size()) {
        const auto taken = take(arguments, index, scanned, unknownCommand);
        if (const ArgumentError* refusal = std::get_if<ArgumentError>(&taken)) {
            return *refusal;
        }
        index += std::get<std::size_t>(taken);
        if (const std::optional<ArgumentError> refusal = mismatch(scanned, unknownCommand)) {
            return *refusal;
        }
    }
    if (unknownCommand) {
        return ArgumentError{usage()};
    }
    if (!scanned.command && !arguments.empty()) {
        return ArgumentError{
            "A command is missing: add one of --status, --register, --unregister or --test.\n" +
            std::string(usageLine)};
    }
    return scanned;
}

namespace {

boost::json::object statusReport(const Integration& integration, bool namingBrowser) {
    boost::json::object report = {
        {"helper", integration.helperPath()},
        {"manifest", integration.manifestPath()},
        {"registered", integration.isRegistered()},
        {"version", Identity::helperVersion},
    };
    if (namingBrowser) {
        report["browser"] = integration.browser().id;
    }
    return report;
}

void status(const Integration& integration, bool namingBrowser, std::ostream& out) {
    out << *JsonWriter::write(statusReport(integration, namingBrowser), {.escapeSlashes = true})
        << "\n";
}

std::string removedLine(const Integration& integration) {
    return "This app's " + integration.browser().displayName +
           (integration.build() == ExtensionBuild::development ? " development" : "") +
           " integration was removed. MIDI files were retained.\n";
}

void registered(const Integration& integration, const std::optional<std::string>& backup,
                std::ostream& out) {
    out << "Registered: " << integration.manifestPath() << "\n";
    if (backup) {
        out << "Previous registration saved: " << *backup << "\n";
    }
}

Operation operationOf(const std::string& command) {
    if (command == "--status") {
        return Operation::checking;
    }
    if (command == "--unregister") {
        return Operation::unregistering;
    }
    return command == "--register" ? Operation::registering : Operation::testing;
}

}  // namespace

int SetupCommandLine::run(const std::vector<Integration>& integrations, const Arguments& arguments,
                          std::ostream& out, std::ostream& err) {
    if (integrations.empty()) {
        err << "No supported browser found: none of them has run for this user yet (there is no "
               "\"Local State\" in its user-data folder). Open the browser once, or name it with "
               "--browser.\n"
            << std::flush;
        return 1;
    }
    const std::string& command = *arguments.command;
    if (command == "--test" || command == "--register") {
        // Tested once: every browser starts the same helper. A helper that fails its test is
        // never registered; its result line stays printed.
        try {
            out << integrations.front().testConnection() << "\n" << std::flush;
        } catch (const std::exception&) {
            err << FailureText::ofCurrentFailure(integrations.front(), Operation::testing,
                                                 FailureText::Reader::commandLine)
                << "\n"
                << std::flush;
            return 1;
        }
        if (command == "--test") {
            return 0;
        }
    }
    // With --browser all, each failure names its browser and the others still run.
    const bool namingFailures = arguments.browser == Browsers::all;
    int exitStatus = 0;
    for (const Integration& integration : integrations) {
        try {
            if (command == "--status") {
                status(integration, arguments.browser.has_value(), out);
            } else if (command == "--register") {
                registered(integration, integration.registerHost(arguments.replace), out);
            } else if (command == "--unregister") {
                integration.unregister();
                out << removedLine(integration);
            }
            out << std::flush;
        } catch (const std::exception&) {
            out << std::flush;
            err << (namingFailures ? integration.browser().displayName + ": " : "")
                << FailureText::ofCurrentFailure(integration, operationOf(command),
                                                 FailureText::Reader::commandLine)
                << "\n"
                << std::flush;
            exitStatus = 1;
        }
    }
    return exitStatus;
}

}  // namespace quenra
