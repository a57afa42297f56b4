// One copy of the application and its registration with one browser: where they live, the two
// safety checks that guard every change to the user's browser directory, the manifest
// operations and the connection test.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "setup_core/browser.h"
#include "setup_core/host_registration.h"
#include "setup_core/setup_failure.h"

namespace quenra {

// Which build of the extension a registration serves. The development build, loaded unpacked
// with the development key, has a host name and an extension ID of its own, so its registration
// is a second manifest beside the release one and never touches it.
enum class ExtensionBuild { release, development };

// Immutable after construction; every operation reads the file system afresh.
class Integration {
  public:
    // appPath and home are made absolute-looking (no "." or ".." components) and resolved
    // through symbolic links; chromeUserData is the browser's user-data directory exactly as
    // given, or when absent the browser's default below home. Without a browser it is Chrome.
    Integration(const std::string& appPath, const std::string& home,
                const std::optional<std::string>& chromeUserData,
                Browser browser = Browsers::chrome(),
                ExtensionBuild build = ExtensionBuild::release);

    // One integration per browser of this system that has run for this user, in table order;
    // empty when none has.
    static std::vector<Integration> forInstalledBrowsers(
        const std::string& appPath, const std::string& home,
        ExtensionBuild build = ExtensionBuild::release);

    const Browser& browser() const { return browser_; }
    ExtensionBuild build() const { return build_; }
    // The native messaging host name and the one caller origin of this build's registration.
    std::string_view hostName() const;
    std::string extensionOrigin() const;
    const std::string& userDataDirectory() const { return userDataDirectory_; }
    // Whether the browser has run for this user: Chromium browsers write "Local State" into
    // their user-data directory on their first start. A directory alone proves nothing, since
    // registering creates it.
    bool browserHasRun() const;
    const std::string& appPath() const { return appPath_; }
    const std::string& hostDirectory() const { return hostDirectory_; }
    const std::string& home() const { return home_; }
    const std::vector<std::string>& allowedInstallRoots() const { return allowedInstallRoots_; }

    std::string helperPath() const;
    std::string manifestPath() const;

    // Throws SetupFailure unsafeLocation or missingHelper.
    void validateLocation() const;
    // Throws SetupFailure symbolicLink, or the file system's error when a link can't be read.
    void validateRegistrationPath() const;
    // The first symbolic link on the way from the manifest up to the root that the check above
    // refuses; nothing when there is none. Throws the file system's error as the check does.
    std::optional<std::string> forbiddenLink() const;

    // The manifest this copy would write.
    HostRegistration expected() const;
    // The manifest on disk; nothing when no item exists at manifestPath.
    std::optional<HostRegistration> current() const;
    bool isRegistered() const;
    // Whether anything (a file, a link, a directory) sits at manifestPath.
    bool manifestItemExists() const;
    // Installs or repairs the manifest; returns the backup's path when a foreign one was
    // replaced.
    std::optional<std::string> registerHost(bool replace) const;
    // Removes this copy's manifest; leaves a foreign one and says so.
    void unregister() const;

    // Runs the helper's self-test and one HELLO exchange; returns the success text.
    std::string testConnection() const;

    // The two links every Mac has at the top of its file system, "/var" and "/tmp", pointing
    // into "/private" (relative or absolute destination).
    static bool isToleratedSystemLink(const std::string& path, const std::string& destination);

    bool operator==(const Integration&) const = default;

  private:
    Browser browser_;
    ExtensionBuild build_;
    std::string userDataDirectory_;
    std::string appPath_;
    std::string hostDirectory_;
    std::string home_;
    std::vector<std::string> allowedInstallRoots_;
};

}  // namespace quenra
