#include "setup_core/integration.h"

#include <boost/system/system_error.hpp>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "bridge_core/files.h"
#include "bridge_core/identity.h"
#include "platform/setup_platform.h"
#include "setup_core/connection_check.h"

namespace quenra {
namespace {

// Paths are only taken apart and put together here; the file system is reached through Files.
namespace fs = std::filesystem;

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// "." and ".." removed lexically first, then links resolved as far as the path exists; the
// part that does not exist yet is kept as written.
std::string standardizedAndResolved(const std::string& path) {
    const std::string standardized = fs::path(path).lexically_normal().string();
    return withoutTrailingSlash(Files::resolvedPath(standardized).value_or(standardized));
}

std::string joined(const std::string& directory, std::string_view relative) {
    return (fs::path(directory) / relative).string();
}

}  // namespace

Integration::Integration(const std::string& appPath, const std::string& home,
                         const std::optional<std::string>& chromeUserData, Browser browser,
                         ExtensionBuild build)
    : browser_(std::move(browser)),
      build_(build),
      appPath_(standardizedAndResolved(appPath)),
      home_(standardizedAndResolved(home)) {
    userDataDirectory_ =
        chromeUserData ? *chromeUserData : joined(home_, browser_.userDataRelativePath);
    hostDirectory_ = joined(userDataDirectory_, "NativeMessagingHosts");
    allowedInstallRoots_ = {std::string(SetupPlatform::systemApplicationsDirectory),
                            joined(home_, "Applications")};
}

std::vector<Integration> Integration::forInstalledBrowsers(const std::string& appPath,
                                                           const std::string& home,
                                                           ExtensionBuild build) {
    std::vector<Integration> integrations;
    for (Browser& browser : Browsers::supported()) {
        Integration integration(appPath, home, std::nullopt, std::move(browser), build);
        if (integration.browserHasRun()) {
            integrations.push_back(std::move(integration));
        }
    }
    return integrations;
}

std::string_view Integration::hostName() const {
    return build_ == ExtensionBuild::development ? Identity::developmentHostName
                                                 : Identity::releaseHostName;
}

std::string Integration::extensionOrigin() const {
    return "chrome-extension://" +
           std::string(build_ == ExtensionBuild::development ? Identity::developmentExtensionID
                                                             : Identity::releaseExtensionID) +
           "/";
}

bool Integration::browserHasRun() const {
    const auto status =
        Files::statusOf(joined(userDataDirectory_, "Local State"), Files::LastLink::followed);
    return status && status->kind == Files::Status::Kind::regularFile;
}

std::string Integration::helperPath() const {
    return joined(appPath_, "Contents/MacOS/quenra-native-host");
}

std::string Integration::manifestPath() const {
    return joined(hostDirectory_, std::string(hostName()) + ".json");
}

void Integration::validateLocation() const {
    const std::string& path = appPath_;
    if (fs::path(path).extension() != ".app") {
        throw SetupFailure(SetupFailure::Kind::unsafeLocation);
    }
    // Where macOS runs a quarantined download from: randomised, read-only, gone later.
    if (path.find("/AppTranslocation/") != std::string::npos) {
        throw SetupFailure(SetupFailure::Kind::unsafeLocation);
    }
    bool insideRoot = false;
    for (const std::string& root : allowedInstallRoots_) {
        const std::string prefix =
            withoutTrailingSlash(fs::path(root).lexically_normal().string()) + "/";
        if (path.starts_with(prefix)) {
            insideRoot = true;
            break;
        }
    }
    if (!insideRoot) {
        throw SetupFailure(SetupFailure::Kind::unsafeLocation);
    }

    const std::string helper = helperPath();
    if (!Files::isExecutableFile(helper)) {
        throw SetupFailure(SetupFailure::Kind::missingHelper);
    }
    // Chrome would start whatever a link points at; the helper must be the bundle's own file.
    if (Files::resolvedPath(helper) != helper) {
        throw SetupFailure(SetupFailure::Kind::missingHelper);
    }
}

void Integration::validateRegistrationPath() const {
    if (forbiddenLink()) {
        throw SetupFailure(SetupFailure::Kind::symbolicLink);
    }
}

std::optional<std::string> Integration::forbiddenLink() const {
    std::string item = manifestPath();
    while (!item.empty() && item != "/") {
        // An item that can't be examined (usually one not created yet) is not a link; a link
        // that can't be read throws the system's error.
        const std::optional<std::string> destination = Files::linkTarget(item);
        if (destination && !isToleratedSystemLink(item, *destination)) {
            return item;
        }
        std::string parent = fs::path(item).parent_path().string();
        if (parent == item) {
            break;
        }
        item = std::move(parent);
    }
    return std::nullopt;
}

bool Integration::isToleratedSystemLink(const std::string& path, const std::string& destination) {
    std::string_view tolerated;
    if (path == "/var") {
        tolerated = "/private/var";
    } else if (path == "/tmp") {
        tolerated = "/private/tmp";
    } else {
        return false;
    }
    return destination == tolerated || "/" + destination == tolerated;
}

bool Integration::manifestItemExists() const {
    return Files::statusOf(manifestPath()).has_value();
}

HostRegistration Integration::expected() const {
    return HostRegistration{
        .name = std::string(hostName()),
        .description = "Quenra DAW Bridge helper",
        .path = helperPath(),
        .type = "stdio",
        .allowedOrigins = {extensionOrigin()},
    };
}

std::optional<HostRegistration> Integration::current() const {
    validateRegistrationPath();
    if (!manifestItemExists()) {
        return std::nullopt;
    }
    return HostRegistration::read(manifestPath());
}

bool Integration::isRegistered() const {
    const std::optional<HostRegistration> found = current();
    if (!found) {
        return false;
    }
    // The description is ours to word; Chrome acts only on the other four.
    const HostRegistration mine = expected();
    return found->name == mine.name && found->path == mine.path && found->type == mine.type &&
           found->allowedOrigins == mine.allowedOrigins;
}

std::optional<std::string> Integration::registerHost(bool replace) const {
    validateLocation();
    validateRegistrationPath();
    bool registered = false;
    try {
        registered = isRegistered();
    } catch (const std::system_error&) {
        // An unreadable manifest is treated like a foreign one: replaceable after a backup.
    } catch (const boost::system::system_error&) {
    } catch (const ManifestFormatError&) {
    }
    if (registered) {
        return std::nullopt;
    }
    std::optional<std::string> backup;
    if (manifestItemExists()) {
        if (!replace) {
            throw SetupFailure(SetupFailure::Kind::conflict);
        }
        backup = HostRegistration::backUp(manifestPath(), hostName());
    }
    Files::createDirectories(hostDirectory(), 0755);
    expected().write(manifestPath());
    return backup;
}

void Integration::unregister() const {
    if (!current()) {
        return;
    }
    if (!isRegistered()) {
        throw SetupFailure(SetupFailure::Kind::foreignRegistration);
    }
    Files::removeFile(manifestPath());
}

std::string Integration::testConnection() const {
    validateLocation();
    ConnectionCheck::checkSelfTest(ConnectionCheck::runHelper(helperPath(), {"--self-test"}, {}));
    // Started as the browser would start it for this registration's extension.
    ConnectionCheck::checkHelloReply(ConnectionCheck::runHelper(
        helperPath(), {extensionOrigin()}, ConnectionCheck::connectionRequest()));
    return ConnectionCheck::successText();
}

}  // namespace quenra
