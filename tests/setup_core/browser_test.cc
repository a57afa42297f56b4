#include "setup_core/browser.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "setup_core/integration.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using System = SetupPlatform::DesktopSystem;

struct Row {
    std::string id;
    std::string displayName;
    std::string macOS;  // empty: not on that system
    std::string linux_;
};

// Written out again by hand from each browser's own documentation: a typo in the table is a
// browser that never finds the helper.
const std::vector<Row> expectedRows = {
    {"chrome", "Chrome", "Library/Application Support/Google/Chrome", ".config/google-chrome"},
    {"chrome-beta", "Chrome Beta", "Library/Application Support/Google/Chrome Beta",
     ".config/google-chrome-beta"},
    {"chrome-dev", "Chrome Dev", "Library/Application Support/Google/Chrome Dev",
     ".config/google-chrome-unstable"},
    {"chrome-canary", "Chrome Canary", "Library/Application Support/Google/Chrome Canary",
     ".config/google-chrome-canary"},
    {"chromium", "Chromium", "Library/Application Support/Chromium", ".config/chromium"},
    {"brave", "Brave", "Library/Application Support/BraveSoftware/Brave-Browser",
     ".config/BraveSoftware/Brave-Browser"},
    {"edge", "Microsoft Edge", "Library/Application Support/Microsoft Edge",
     ".config/microsoft-edge"},
    {"vivaldi", "Vivaldi", "Library/Application Support/Vivaldi", ".config/vivaldi"},
    {"arc", "Arc", "Library/Application Support/Arc/User Data", ""},
    {"opera", "Opera", "Library/Application Support/com.operasoftware.Opera", ".config/opera"},
    {"opera-gx", "Opera GX", "Library/Application Support/com.operasoftware.OperaGX", ""},
};

std::vector<Browser> expectedOn(System system) {
    std::vector<Browser> browsers;
    for (const Row& row : expectedRows) {
        const std::string& path = system == System::macOS ? row.macOS : row.linux_;
        if (!path.empty()) {
            browsers.push_back({row.id, row.displayName, path});
        }
    }
    return browsers;
}

TEST(Browsers, HoldEveryRowOfEachSystemInTableOrder) {
    EXPECT_EQ(Browsers::on(System::macOS), expectedOn(System::macOS));
    EXPECT_EQ(Browsers::on(System::Linux), expectedOn(System::Linux));
    EXPECT_EQ(Browsers::on(System::macOS).size(), 11u);
    EXPECT_EQ(Browsers::on(System::Linux).size(), 9u);  // Arc and Opera GX ship for macOS only
    EXPECT_EQ(Browsers::supported(), Browsers::on(SetupPlatform::desktopSystem()));
}

TEST(Browsers, PlaceEachManifestInTheBrowsersOwnFolderBelowTheHome) {
    for (const System system : {System::macOS, System::Linux}) {
        for (const Browser& browser : Browsers::on(system)) {
            SCOPED_TRACE(browser.id);
            const Integration integration("/Applications/Quenra Bridge.app", "/home/u",
                                          std::nullopt, browser);
            EXPECT_EQ(integration.browser(), browser);
            EXPECT_EQ(integration.userDataDirectory(), "/home/u/" + browser.userDataRelativePath);
            EXPECT_EQ(integration.manifestPath(), "/home/u/" + browser.userDataRelativePath +
                                                      "/NativeMessagingHosts/"
                                                      "tech.ostrell.quenra.bridge.json");
            // A given directory still wins, for any browser.
            EXPECT_EQ(Integration("/a.app", "/home/u", "/tmp/p", browser).hostDirectory(),
                      "/tmp/p/NativeMessagingHosts");
        }
    }
}

TEST(Browsers, ChromeIsTheBrowserWhenNoneIsNamed) {
    const Integration unnamed("/Applications/Quenra Bridge.app", "/home/u", std::nullopt);
    EXPECT_EQ(unnamed.browser(), Browsers::chrome());
    EXPECT_EQ(unnamed, Integration("/Applications/Quenra Bridge.app", "/home/u", std::nullopt,
                                   Browsers::chrome()));
    EXPECT_EQ(Browsers::chrome().userDataRelativePath,
              SetupPlatform::desktopSystem() == System::macOS
                  ? "Library/Application Support/Google/Chrome"
                  : ".config/google-chrome");
}

TEST(Browsers, FindOnlyTheIdsOfThisSystem) {
    for (const Browser& browser : Browsers::supported()) {
        EXPECT_EQ(Browsers::find(browser.id), browser);
    }
    EXPECT_EQ(Browsers::find("all"), std::nullopt);
    EXPECT_EQ(Browsers::find("Chrome"), std::nullopt);  // ids are exact
    EXPECT_EQ(Browsers::find(""), std::nullopt);
    if (SetupPlatform::desktopSystem() == System::Linux) {
        EXPECT_EQ(Browsers::find("arc"), std::nullopt);
        EXPECT_EQ(Browsers::idList(),
                  "chrome, chrome-beta, chrome-dev, chrome-canary, chromium, brave, edge, "
                  "vivaldi, opera, all");
    }
}

TEST(Browsers, SayWhereABrowserOfTheOtherSystemRuns) {
    for (const Browser& browser : Browsers::supported()) {
        EXPECT_EQ(Browsers::findElsewhere(browser.id), std::nullopt) << browser.id;
    }
    EXPECT_EQ(Browsers::findElsewhere("firefox"), std::nullopt);
    EXPECT_EQ(Browsers::findElsewhere("all"), std::nullopt);
    if (SetupPlatform::desktopSystem() == System::Linux) {
        for (const std::string id : {"arc", "opera-gx"}) {
            const std::optional<Browser> elsewhere = Browsers::findElsewhere(id);
            ASSERT_TRUE(elsewhere) << id;
            EXPECT_EQ(elsewhere->id, id);
        }
        EXPECT_EQ(Browsers::onlyElsewhere(*Browsers::findElsewhere("opera-gx")),
                  "Opera GX is available only on macOS; on Linux, --browser takes one of: chrome, "
                  "chrome-beta, chrome-dev, chrome-canary, chromium, brave, edge, vivaldi, opera, "
                  "all");
    }
}

TEST(Browsers, CountOnlyBrowsersThatHaveRun) {
    testing::SetupSandbox sandbox;
    const fs::path& home = sandbox.home();
    const auto folder = [&](const std::string& id) {
        return home / Browsers::find(id)->userDataRelativePath;
    };
    const auto installed = [&] {
        std::vector<std::string> ids;
        for (const Integration& integration :
             Integration::forInstalledBrowsers(sandbox.bundle().string(), home.string())) {
            ids.push_back(integration.browser().id);
            EXPECT_EQ(integration.home(), home.string());
        }
        return ids;
    };
    EXPECT_TRUE(installed().empty());

    // A folder alone is what a registration leaves behind: the browser may never have run.
    fs::create_directories(folder("chrome") / "NativeMessagingHosts");
    fs::create_directories(folder("brave"));
    EXPECT_TRUE(installed().empty());

    for (const char* id : {"chromium", "chrome", "edge"}) {
        fs::create_directories(folder(id));
        testing::writeFile(folder(id) / "Local State", "{}");
    }
    fs::create_directories(folder("brave") / "Local State");  // not the browser's file
    testing::writeFile(folder("opera").parent_path() / "opera", "not a folder");
    fs::create_directories(home / "elsewhere");
    testing::writeFile(home / "elsewhere" / "Local State", "{}");
    fs::create_symlink(home / "elsewhere", folder("vivaldi"));

    // A linked folder counts: registering there then refuses the link, with the browser's name.
    EXPECT_EQ(installed(), (std::vector<std::string>{"chrome", "chromium", "edge", "vivaldi"}));
}

}  // namespace
}  // namespace quenra
