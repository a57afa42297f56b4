#include "setup_core/integration.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "support/failure_of.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using testing::SetupSandbox;
using Kind = SetupFailure::Kind;

std::optional<Kind> kindOf(const std::optional<SetupFailure>& failure) {
    return failure ? std::optional<Kind>(failure->kind()) : std::nullopt;
}

std::optional<Kind> locationFailure(const Integration& integration) {
    return kindOf(testing::failureOf<SetupFailure>([&] { integration.validateLocation(); }));
}

std::optional<Kind> pathFailure(const Integration& integration) {
    return kindOf(
        testing::failureOf<SetupFailure>([&] { integration.validateRegistrationPath(); }));
}

void makeBundle(const fs::path& bundle) {
    const fs::path executables = bundle / "Contents" / "MacOS";
    fs::create_directories(executables);
    testing::writeFile(executables / "quenra-native-host", "#!/bin/sh\n");
    fs::permissions(executables / "quenra-native-host", fs::perms::owner_all);
}

TEST(Integration, DerivesItsLocationsFromTheBundleAndTheHome) {
    const Integration integration("/Applications/Quenra Bridge.app", "/home/u", std::nullopt);
    EXPECT_EQ(integration.helperPath(),
              "/Applications/Quenra Bridge.app/Contents/MacOS/quenra-native-host");
    EXPECT_EQ(integration.hostDirectory(), "/home/u/.config/google-chrome/NativeMessagingHosts");
    EXPECT_EQ(integration.manifestPath(),
              "/home/u/.config/google-chrome/NativeMessagingHosts/"
              "tech.ostrell.quenra.bridge.json");
    EXPECT_EQ(integration.allowedInstallRoots(),
              (std::vector<std::string>{"/Applications", "/home/u/Applications"}));
}

TEST(Integration, TakesAGivenChromeDirectoryUnchanged) {
    EXPECT_EQ(Integration("/a.app", "/home/u", "/tmp/profile").hostDirectory(),
              "/tmp/profile/NativeMessagingHosts");
    EXPECT_EQ(Integration("/a.app", "/home/u", "/x/../profile").hostDirectory(),
              "/x/../profile/NativeMessagingHosts");
}

TEST(Integration, StandardisesAndResolvesTheBundleAndTheHome) {
    SetupSandbox sandbox;
    fs::create_directories(sandbox.home() / "Downloads" / "Quenra Bridge.app");
    fs::create_symlink(sandbox.home(), sandbox.home().parent_path() / "linked-home");
    fs::create_symlink(sandbox.home() / "Downloads" / "Quenra Bridge.app",
                       sandbox.home() / "Applications" / "Linked.app");

    const Integration integration(
        (sandbox.home() / "Applications" / "." / "Tools" / ".." / "Linked.app").string(),
        (sandbox.home().parent_path() / "linked-home" / "").string(), std::nullopt);
    EXPECT_EQ(integration.appPath(), (sandbox.home() / "Downloads" / "Quenra Bridge.app").string());
    EXPECT_EQ(integration.home(), sandbox.home().string());
    // The link inside Applications leads to a download folder: not an install location.
    EXPECT_EQ(locationFailure(integration), Kind::unsafeLocation);
}

struct LocationCase {
    const char* name;
    std::function<fs::path(const SetupSandbox&)> prepare;  // returns the bundle path
    std::optional<Kind> failure;
};

TEST(Integration, AcceptsOnlyCompleteBundlesInsideAnInstallRoot) {
    const auto inHome = [](const char* relative) {
        return [relative](const SetupSandbox& sandbox) {
            makeBundle(sandbox.home() / relative);
            return sandbox.home() / relative;
        };
    };
    const auto absolute = [](const char* path) {
        return [path](const SetupSandbox&) { return fs::path(path); };
    };
    const std::vector<LocationCase> cases = {
        {"home applications", inHome("Applications/Quenra Bridge.app"), std::nullopt},
        {"any depth below a root", inHome("Applications/Tools/Quenra Bridge.app"), std::nullopt},
        {"any bundle name", inHome("Applications/Renamed.app"), std::nullopt},
        {"download folder", inHome("Downloads/Quenra Bridge.app"), Kind::unsafeLocation},
        {"sibling of a root", inHome("ApplicationsOld/Quenra Bridge.app"), Kind::unsafeLocation},
        {"root named like a bundle", inHome("Applications.app"), Kind::unsafeLocation},
        {"upper-case extension", inHome("Applications/Quenra Bridge.APP"), Kind::unsafeLocation},
        {"no extension", inHome("Applications/Quenra Bridge"), Kind::unsafeLocation},
        {"translocated below a root",
         inHome("Applications/AppTranslocation/1234/d/Quenra Bridge.app"), Kind::unsafeLocation},
        {"translocated system path",
         absolute("/Applications/AppTranslocation/1234/d/Quenra Bridge.app"), Kind::unsafeLocation},
        {"system sibling", absolute("/ApplicationsOld/Quenra Bridge.app"), Kind::unsafeLocation},
        {"system root passes, helper absent", absolute("/Applications/Quenra Bridge.app"),
         Kind::missingHelper},
        {"helper absent",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.bundle() / "Contents" / "MacOS");
             return sandbox.bundle();
         },
         Kind::missingHelper},
        {"helper lost its executable bit",
         [](const SetupSandbox& sandbox) {
             makeBundle(sandbox.bundle());
             fs::permissions(sandbox.helper(), fs::perms::owner_read | fs::perms::owner_write);
             return sandbox.bundle();
         },
         Kind::missingHelper},
        {"helper is a directory",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.helper());
             return sandbox.bundle();
         },
         Kind::missingHelper},
        {"helper is a link",
         [](const SetupSandbox& sandbox) {
             makeBundle(sandbox.home() / "Elsewhere.app");
             fs::create_directories(sandbox.executables());
             fs::create_symlink(
                 sandbox.home() / "Elsewhere.app" / "Contents" / "MacOS" / "quenra-native-host",
                 sandbox.helper());
             return sandbox.bundle();
         },
         Kind::missingHelper},
        {"helper folder is a link",
         [](const SetupSandbox& sandbox) {
             makeBundle(sandbox.home() / "Elsewhere.app");
             fs::create_directories(sandbox.bundle() / "Contents");
             fs::create_directory_symlink(sandbox.home() / "Elsewhere.app" / "Contents" / "MacOS",
                                          sandbox.executables());
             return sandbox.bundle();
         },
         Kind::missingHelper},
    };
    for (const LocationCase& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        SetupSandbox sandbox;
        fs::remove_all(sandbox.home() / "Applications");
        fs::create_directories(sandbox.home() / "Applications");
        const fs::path bundle = testCase.prepare(sandbox);
        const Integration integration(bundle.string(), sandbox.home().string(), std::nullopt);
        EXPECT_EQ(locationFailure(integration), testCase.failure);
    }
}

TEST(Integration, ToleratesOnlyTheTwoSystemLinks) {
    struct Case {
        const char* path;
        const char* destination;
        bool tolerated;
    };
    const std::vector<Case> cases = {
        {"/tmp", "private/tmp", true},         {"/tmp", "/private/tmp", true},
        {"/var", "private/var", true},         {"/var", "/private/var", true},
        {"/tmp", "private/var", false},        {"/tmp", "/elsewhere", false},
        {"/tmp", "//private/tmp", false},      {"/private/tmp", "private/tmp", false},
        {"/home/u/tmp", "private/tmp", false}, {"/etc", "private/etc", false},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(std::string(testCase.path) + " -> " + testCase.destination);
        EXPECT_EQ(Integration::isToleratedSystemLink(testCase.path, testCase.destination),
                  testCase.tolerated);
    }
}

TEST(Integration, RefusesALinkAnywhereOnTheRegistrationPath) {
    struct Case {
        const char* name;
        std::function<void(const SetupSandbox&)> prepare;
        std::optional<Kind> failure;
    };
    const std::vector<Case> cases = {
        {"nothing exists yet", [](const SetupSandbox&) {}, std::nullopt},
        {"directories without a manifest",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.chromeData() / "NativeMessagingHosts");
         },
         std::nullopt},
        {"a plain manifest",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.chromeData() / "NativeMessagingHosts");
             testing::writeFile(
                 sandbox.chromeData() / "NativeMessagingHosts" / "tech.ostrell.quenra.bridge.json",
                 "{}");
         },
         std::nullopt},
        {"a linked Chrome folder without a manifest",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.home() / "moved-profile");
             fs::create_directory_symlink(sandbox.home() / "moved-profile", sandbox.chromeData());
         },
         Kind::symbolicLink},
        {"a linked hosts folder",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.home() / "hosts");
             fs::create_directories(sandbox.chromeData());
             fs::create_directory_symlink(sandbox.home() / "hosts",
                                          sandbox.chromeData() / "NativeMessagingHosts");
         },
         Kind::symbolicLink},
        {"a linked manifest",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.chromeData() / "NativeMessagingHosts");
             testing::writeFile(sandbox.home() / "other.json", "{}");
             fs::create_symlink(
                 sandbox.home() / "other.json",
                 sandbox.chromeData() / "NativeMessagingHosts" / "tech.ostrell.quenra.bridge.json");
         },
         Kind::symbolicLink},
        {"a dangling linked manifest",
         [](const SetupSandbox& sandbox) {
             fs::create_directories(sandbox.chromeData() / "NativeMessagingHosts");
             fs::create_symlink(
                 sandbox.home() / "nowhere.json",
                 sandbox.chromeData() / "NativeMessagingHosts" / "tech.ostrell.quenra.bridge.json");
         },
         Kind::symbolicLink},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        SetupSandbox sandbox;
        testCase.prepare(sandbox);
        const Integration integration(sandbox.bundle().string(), sandbox.home().string(),
                                      sandbox.chromeData().string());
        EXPECT_EQ(pathFailure(integration), testCase.failure);
    }
}

TEST(Integration, WalksAboveTheHomeToo) {
    // The link sits above the Chrome folder, outside anything the setup program created.
    SetupSandbox sandbox;
    fs::create_directories(sandbox.home() / "real");
    fs::create_directory_symlink(sandbox.home() / "real", sandbox.home() / "linked");
    const Integration integration(sandbox.bundle().string(), sandbox.home().string(),
                                  (sandbox.home() / "linked" / "chrome").string());
    EXPECT_EQ(pathFailure(integration), Kind::symbolicLink);
}

TEST(SetupFailure, HasOneMessagePerCase) {
    EXPECT_STREQ(SetupFailure(Kind::unsafeLocation).what(),
                 "Move Quenra Bridge.app into Applications (or ~/Applications), then open it "
                 "again.");
    EXPECT_STREQ(SetupFailure(Kind::missingHelper).what(),
                 "The app's native helper is missing. Install a complete copy of the app.");
    EXPECT_STREQ(SetupFailure(Kind::conflict).what(),
                 "Another registration exists. Confirm replacement to save a backup and update "
                 "it.");
    EXPECT_STREQ(SetupFailure(Kind::foreignRegistration).what(),
                 "This registration belongs to another installation. It was left unchanged.");
    EXPECT_STREQ(SetupFailure(Kind::symbolicLink).what(),
                 "The registration path contains a symbolic link. It was left unchanged.");
    EXPECT_STREQ(SetupFailure(Kind::invalidReply).what(),
                 "The native helper did not return a valid connection test response.");
    EXPECT_STREQ(SetupFailure(Kind::timeout).what(),
                 "The native helper did not finish its connection test within 10 seconds.");
    EXPECT_EQ(SetupFailure(Kind::timeout), SetupFailure(Kind::timeout));
    EXPECT_NE(SetupFailure(Kind::timeout), SetupFailure(Kind::conflict));
}

}  // namespace
}  // namespace quenra
