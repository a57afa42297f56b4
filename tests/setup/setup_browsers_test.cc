// The real quenra-bridge-setup naming browsers: one with --browser ID, every one the user has
// with --browser all, over a private home holding several browsers' folders.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup_core/browser.h"
#include "setup_core/connection_check.h"
#include "setup_core/integration.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using testing::escapedSlashes;
using testing::ProgramRun;
using testing::SetupSandbox;
using Kind = SetupFailure::Kind;

struct Home {
    SetupSandbox sandbox;

    Home() {
        sandbox.installFakeHelper();
        sandbox.answerCorrectly();
        sandbox.installSetupProgram();
    }
    ProgramRun run(const std::vector<std::string>& arguments) const {
        return sandbox.runSetup(arguments);
    }
    Integration integration(const std::string& id) const {
        return Integration(sandbox.bundle().string(), sandbox.home().string(), std::nullopt,
                           *Browsers::find(id));
    }
    // The browser has run once: it wrote "Local State" into its user-data folder.
    void install(const std::string& id) const {
        fs::create_directories(integration(id).userDataDirectory());
        testing::writeFile(fs::path(integration(id).userDataDirectory()) / "Local State", "{}");
    }
    std::string placeForeignManifest(const std::string& id) const {
        return testing::placeForeignManifest(integration(id));
    }
};

std::string statusLine(const Integration& integration, bool registered) {
    return "{\"browser\":\"" + integration.browser().id + "\",\"helper\":\"" +
           escapedSlashes(integration.helperPath()) + "\",\"manifest\":\"" +
           escapedSlashes(integration.manifestPath()) +
           "\",\"registered\":" + (registered ? "true" : "false") + ",\"version\":\"0.1.0\"}\n";
}

const std::string passed = ConnectionCheck::successText() + "\n";

TEST(SetupBrowsers, RefusesUnknownBrowsersAndAnAllThatCantBeOneFolder) {
    const std::string known =
        "chrome, chrome-beta, chrome-dev, chrome-canary, chromium, brave, edge, vivaldi, opera, "
        "all";
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"--status", "--browser", "firefox"}, "Unknown browser: firefox (known: " + known + ")\n"},
        {{"--register", "--browser", "arc"},
         "Arc is available only on macOS; on Linux, --browser takes one of: " + known + "\n"},
        {{"--browser", "opera-gx", "--status"},
         "Opera GX is available only on macOS; on Linux, --browser takes one of: " + known + "\n"},
        {{"--status", "--browser", "Chrome"}, "Unknown browser: Chrome (known: " + known + ")\n"},
        {{"--status", "--browser"}, "--browser requires one of: " + known + "\n"},
        {{"--status", "--browser", "brave", "--browser", "edge"},
         "Unknown or repeated option: --browser\n--browser is given twice.\n"},
        {{"--status", "--browser", "all", "--chrome-user-data-dir", "/tmp/p"},
         "--chrome-user-data-dir cannot be used with --browser all.\n"},
        {{"--register", "--chrome-user-data-dir", "/tmp/p", "--browser", "all", "--replace"},
         "--chrome-user-data-dir cannot be used with --browser all.\n"},
    };
    Home home;
    home.install("chrome");
    for (const Case& testCase : cases) {
        SCOPED_TRACE(::testing::PrintToString(testCase.arguments));
        const ProgramRun run = home.run(testCase.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, testCase.err);
    }
    EXPECT_FALSE(fs::exists(home.integration("chrome").hostDirectory()));
}

TEST(SetupBrowsers, ReportsEveryInstalledBrowserOnItsOwnLine) {
    Home home;
    for (const char* id : {"brave", "chromium", "chrome"}) {
        home.install(id);
    }
    home.integration("chromium").registerHost(false);
    const ProgramRun run = home.run({"--status", "--browser", "all"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, statusLine(home.integration("chrome"), false) +
                           statusLine(home.integration("chromium"), true) +
                           statusLine(home.integration("brave"), false));

    // One named browser is named in its line too; without --browser the line has four keys.
    const ProgramRun one = home.run({"--status", "--browser", "chromium"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, statusLine(home.integration("chromium"), true));
    const ProgramRun unnamed = home.run({"--status"});
    EXPECT_EQ(unnamed.out.find("\"browser\""), std::string::npos) << unnamed.out;
}

TEST(SetupBrowsers, SaysSoWhenNoBrowserHasRun) {
    const std::string noBrowser =
        "No supported browser found: none of them has run for this user yet (there is no \"Local "
        "State\" in its user-data folder). Open the browser once, or name it with --browser.\n";
    Home home;
    for (const char* command : {"--status", "--register", "--unregister", "--test"}) {
        SCOPED_TRACE(command);
        const ProgramRun run = home.run({command, "--browser", "all"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, noBrowser);
    }
    EXPECT_FALSE(fs::exists(home.sandbox.home() / ".config"));

    // Registering for Chrome makes its folder, which is not Chrome having run.
    ASSERT_EQ(home.run({"--register"}).status, 0);
    ASSERT_TRUE(fs::exists(home.integration("chrome").hostDirectory()));
    const ProgramRun after = home.run({"--status", "--browser", "all"});
    EXPECT_EQ(after.status, 1);
    EXPECT_EQ(after.err, noBrowser);
}

TEST(SetupBrowsers, RegistersTheOthersWhenOneBrowserFails) {
    Home home;
    for (const char* id : {"chrome", "brave", "edge"}) {
        home.install(id);
    }
    const std::string foreign = home.placeForeignManifest("brave");

    const ProgramRun refused = home.run({"--register", "--browser", "all"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, passed + "Registered: " + home.integration("chrome").manifestPath() +
                               "\nRegistered: " + home.integration("edge").manifestPath() + "\n");
    EXPECT_EQ(refused.err,
              "Brave: " + std::string(SetupFailure::description(Kind::conflict)) + "\n");
    EXPECT_TRUE(home.integration("chrome").isRegistered());
    EXPECT_TRUE(home.integration("edge").isRegistered());
    EXPECT_EQ(testing::readFile(home.integration("brave").manifestPath()), foreign);

    const ProgramRun replaced = home.run({"--register", "--browser", "all", "--replace"});
    EXPECT_EQ(replaced.status, 0);
    EXPECT_EQ(replaced.err, "");
    const std::string prefix =
        passed + "Registered: " + home.integration("chrome").manifestPath() +
        "\nRegistered: " + home.integration("brave").manifestPath() +
        "\nPrevious registration saved: " + home.integration("brave").hostDirectory() + "/";
    EXPECT_TRUE(replaced.out.starts_with(prefix)) << replaced.out;
    EXPECT_TRUE(replaced.out.ends_with(
        ".json.bak\nRegistered: " + home.integration("edge").manifestPath() + "\n"))
        << replaced.out;
    EXPECT_TRUE(home.integration("brave").isRegistered());

    // Removal runs everywhere too; a foreign manifest stops only its own browser.
    home.placeForeignManifest("edge");
    const ProgramRun removed = home.run({"--unregister", "--browser", "all"});
    EXPECT_EQ(removed.status, 1);
    EXPECT_EQ(removed.out,
              "This app's Chrome integration was removed. MIDI files were retained.\n"
              "This app's Brave integration was removed. MIDI files were retained.\n");
    EXPECT_EQ(removed.err, "Microsoft Edge: " +
                               std::string(SetupFailure::description(Kind::foreignRegistration)) +
                               "\n");
    EXPECT_FALSE(home.integration("chrome").manifestItemExists());
    EXPECT_FALSE(home.integration("brave").manifestItemExists());
    EXPECT_TRUE(home.integration("edge").manifestItemExists());
}

TEST(SetupBrowsers, TestsTheHelperOnceAndRegistersNothingWhenItFails) {
    Home home;
    home.install("chrome");
    home.install("vivaldi");
    home.sandbox.setStatus("self-test", 1);
    const ProgramRun run = home.run({"--register", "--browser", "all"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string(SetupFailure::description(Kind::invalidReply)) + "\n");
    EXPECT_FALSE(fs::exists(home.integration("chrome").hostDirectory()));
    EXPECT_FALSE(fs::exists(home.integration("vivaldi").hostDirectory()));
}

TEST(SetupBrowsers, NamesOneBrowserWhetherOrNotItHasRunYet) {
    Home home;
    const Integration chromium = home.integration("chromium");
    const ProgramRun registered = home.run({"--register", "--browser", "chromium"});
    EXPECT_EQ(registered.status, 0);
    EXPECT_EQ(registered.out, passed + "Registered: " + chromium.manifestPath() + "\n");
    EXPECT_TRUE(chromium.isRegistered());
    EXPECT_FALSE(fs::exists(home.integration("chrome").hostDirectory()));

    const ProgramRun removed = home.run({"--unregister", "--browser", "chromium"});
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(removed.out,
              "This app's Chromium integration was removed. MIDI files were retained.\n");
    EXPECT_FALSE(chromium.manifestItemExists());

    // With a folder given, the named browser's registration goes there.
    const fs::path elsewhere = home.sandbox.home() / "profile";
    const ProgramRun given =
        home.run({"--register", "--browser", "edge", "--chrome-user-data-dir", elsewhere.string()});
    EXPECT_EQ(given.status, 0);
    EXPECT_EQ(given.out, passed + "Registered: " + elsewhere.string() +
                             "/NativeMessagingHosts/tech.ostrell.quenra.bridge.json\n");
    EXPECT_FALSE(fs::exists(home.integration("edge").userDataDirectory()));
}

}  // namespace
}  // namespace quenra
