// quenra-bridge-setup: with a command, one setup operation for scripts and support; without
// arguments, the setup window.
#include <iostream>
#include <string>
#include <vector>

#include "platform/system_locations.h"
#include "setup/setup_command_line.h"
#include "setup/setup_window.h"

int main(int argc, char** argv) {
    using namespace quenra;
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto scanned = SetupCommandLine::scan(arguments);
    if (std::holds_alternative<SetupCommandLine::HelpRequest>(scanned)) {
        std::cout << SetupCommandLine::usage() << std::flush;
        return 0;
    }
    if (const auto* error = std::get_if<SetupCommandLine::ArgumentError>(&scanned)) {
        std::cerr << error->message << std::flush;
        return 2;
    }
    const auto& options = std::get<SetupCommandLine::Arguments>(scanned);

    const std::optional<std::string> bundle = SystemLocations::mainBundlePath();
    const std::optional<std::string> home = SystemLocations::homeDirectory();
    if (!bundle || !home) {
        std::cerr << "quenra-bridge-setup: cannot tell where this app or your home folder is.\n";
        return 1;
    }
    const ExtensionBuild build =
        options.development ? ExtensionBuild::development : ExtensionBuild::release;
    const bool everyBrowser = options.browser == Browsers::all;

    if (options.command) {
        std::vector<Integration> integrations;
        if (everyBrowser) {
            integrations = Integration::forInstalledBrowsers(*bundle, *home, build);
        } else {
            integrations.emplace_back(
                *bundle, *home, options.chromeData,
                options.browser ? *Browsers::find(*options.browser) : Browsers::chrome(), build);
        }
        return SetupCommandLine::run(integrations, options, std::cout, std::cerr);
    }
    // The window works on every browser the user has; with none of them yet it offers Chrome,
    // whose folder registering creates.
    std::vector<Integration> integrations = Integration::forInstalledBrowsers(*bundle, *home);
    if (integrations.empty()) {
        integrations.emplace_back(*bundle, *home, std::nullopt);
    }
    return SetupWindow::run(integrations);
}
