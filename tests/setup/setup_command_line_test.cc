// The real quenra-bridge-setup, copied into a bundle under a private home beside a scripted
// helper, driven as a script or a support engineer would.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "setup_core/browser.h"
#include "setup_core/connection_check.h"
#include "setup_core/integration.h"
#include "support/file_mode.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using testing::escapedSlashes;
using testing::ProgramRun;
using testing::SetupSandbox;
using Kind = SetupFailure::Kind;

const std::string usageLine =
    "usage: quenra-bridge-setup [--status|--register|--unregister|--test] "
    "[--chrome-user-data-dir /path] [--replace] [--browser ID|all] [--development]\n";
const std::string usage =
    usageLine +
    "  --status        print whether this copy is registered, as one JSON line\n"
    "  --register      test the helper, then register it with the browser\n"
    "  --unregister    remove this copy's registration; MIDI files are kept\n"
    "  --test          test the helper only\n"
    "  --chrome-user-data-dir /path\n"
    "                  register in that user-data folder instead of the browser's own\n"
    "  --replace       with --register: back up another copy's registration and replace it\n"
    "  --browser ID    the browser to work on (default chrome), ID being one of\n"
    "                  chrome, chrome-beta, chrome-dev, chrome-canary, chromium, brave, edge, "
    "vivaldi, opera\n"
    "  --browser all   every one of those browsers that has run for this user\n"
    "  --development   the development extension's registration "
    "(tech.ostrell.quenra.bridge_dev),\n"
    "                  beside the release one\n"
    "The command and the options may come in any order. Without arguments the setup window "
    "opens.\n";
const std::string passed = ConnectionCheck::successText() + "\n";
const std::string removed =
    "This app's Chrome integration was removed. MIDI files were retained.\n";

struct InstalledCopy {
    SetupSandbox sandbox;

    InstalledCopy() {
        sandbox.installFakeHelper();
        sandbox.answerCorrectly();
        sandbox.installSetupProgram();
    }
    fs::path program() const { return sandbox.setupProgram(); }
    ProgramRun run(std::vector<std::string> arguments, bool withChromeData = true) const {
        if (withChromeData) {
            arguments.push_back("--chrome-user-data-dir");
            arguments.push_back(sandbox.chromeData().string());
        }
        return sandbox.runSetup(arguments);
    }
    Integration integration() const {
        return Integration(sandbox.bundle().string(), sandbox.home().string(),
                           sandbox.chromeData().string());
    }
    void placeForeignManifest() const { testing::placeForeignManifest(integration()); }
};

TEST(SetupCommandLine, RefusesBadArgumentsBeforeTouchingAnything) {
    const std::string absolute = "--chrome-user-data-dir requires an absolute path.\n";
    const std::string unknown = "Unknown or repeated option: ";
    const std::string help = "Run quenra-bridge-setup --help for the commands and options.\n";
    const std::string noCommand =
        "A command is missing: add one of --status, --register, --unregister or --test.\n" +
        usageLine;
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"--test", "--replace"}, unknown + "--replace\n--replace goes only with --register.\n"},
        {{"--register", "--replace", "--replace"},
         unknown + "--replace\n--replace is given twice.\n"},
        {{"--status", "--chrome-user-data-dir"}, absolute},
        {{"--status", "--chrome-user-data-dir", "relative/dir"}, absolute},
        {{"--status", "--chrome-user-data-dir", "/a", "--chrome-user-data-dir", "/b"},
         unknown + "--chrome-user-data-dir\n--chrome-user-data-dir is given twice.\n"},
        {{"--status", "--test"},
         unknown + "--test\n--status and --test are two commands; give one of them.\n"},
        {{"--status", "--status"}, unknown + "--status\n--status is given twice.\n"},
        {{"--register", "--force"}, unknown + "--force\n" + help},
        {{"--bogus", "--replace"}, unknown + "--replace\n--replace goes only with --register.\n"},
        {{"--status", "--development", "--development"},
         unknown + "--development\n--development is given twice.\n"},
        {{"--chrome-user-data-dir", "/a"}, noCommand},
        {{"--replace"}, noCommand},
        {{"--unknown", "--chrome-user-data-dir", "/a"}, usage},
        {{""}, usage},
    };
    InstalledCopy setup;
    for (const Case& testCase : cases) {
        SCOPED_TRACE(::testing::PrintToString(testCase.arguments));
        const ProgramRun run = setup.run(testCase.arguments, false);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, testCase.err);
    }
    EXPECT_FALSE(fs::exists(setup.sandbox.home() / ".config"));
}

// Each option keeps its value wherever it stands, and only two commands, an option given twice,
// an option with a command it doesn't go with, or options without a command are refused.
TEST(SetupCommandLine, TakesTheCommandAndItsOptionsInAnyOrder) {
    InstalledCopy setup;
    const fs::path& home = setup.sandbox.home();
    const std::string folder = (home / "profile").string();
    const auto statusLine = [&](const Integration& integration, const std::string& browser) {
        return "{" + (browser.empty() ? "" : "\"browser\":\"" + browser + "\",") + "\"helper\":\"" +
               escapedSlashes(integration.helperPath()) + "\",\"manifest\":\"" +
               escapedSlashes(integration.manifestPath()) +
               "\",\"registered\":false,\"version\":\"0.1.0\"}\n";
    };
    const auto integration = [&](const std::string& id, std::optional<std::string> data,
                                 ExtensionBuild build) {
        return Integration(setup.sandbox.bundle().string(), home.string(), data,
                           *Browsers::find(id), build);
    };
    const Integration chrome = integration("chrome", std::nullopt, ExtensionBuild::release);
    fs::create_directories(chrome.userDataDirectory());
    testing::writeFile(fs::path(chrome.userDataDirectory()) / "Local State", "{}");
    const std::string chromium =
        statusLine(integration("chromium", std::nullopt, ExtensionBuild::release), "chromium");
    const std::string given =
        statusLine(integration("chrome", folder, ExtensionBuild::release), "");
    const std::string registered =
        ConnectionCheck::successText() + "\nRegistered: " + chrome.manifestPath() + "\n";
    const std::string unknown = "Unknown or repeated option: ";
    const std::string twoCommands = " are two commands; give one of them.\n";
    struct Case {
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"--status", "--browser", "chromium"}, 0, chromium, ""},
        {{"--browser", "chromium", "--status"}, 0, chromium, ""},
        {{"--status", "--chrome-user-data-dir", folder}, 0, given, ""},
        {{"--chrome-user-data-dir", folder, "--status"}, 0, given, ""},
        {{"--development", "--browser", "chromium", "--status"},
         0,
         statusLine(integration("chromium", std::nullopt, ExtensionBuild::development), "chromium"),
         ""},
        {{"--replace", "--register", "--browser", "all"}, 0, registered, ""},
        {{"--browser", "all", "--register", "--replace"}, 0, registered, ""},
        {{"--help"}, 0, usage, ""},
        {{"--status", "--bogus", "--help"}, 0, usage, ""},
        {{"--browser", "chromium"},
         2,
         "",
         "A command is missing: add one of --status, --register, --unregister or --test.\n" +
             usageLine},
        {{"--chrome-user-data-dir", "--status"},
         2,
         "",
         "--chrome-user-data-dir requires an absolute path.\n"},
        {{"--test", "--browser", "all", "--status"},
         2,
         "",
         unknown + "--status\n--test and --status" + twoCommands},
        {{"--replace", "--unregister"},
         2,
         "",
         unknown + "--replace\n--replace goes only with --register.\n"},
        {{"--chrome-user-data-dir", folder, "--browser", "all", "--status"},
         2,
         "",
         "--chrome-user-data-dir cannot be used with --browser all.\n"},
        {{"--browser", "arc", "--status"},
         2,
         "",
         "Arc is available only on macOS; on Linux, --browser takes one of: chrome, chrome-beta, "
         "chrome-dev, chrome-canary, chromium, brave, edge, vivaldi, opera, all\n"},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(::testing::PrintToString(testCase.arguments));
        const ProgramRun run = setup.run(testCase.arguments, false);
        EXPECT_EQ(run.status, testCase.status);
        EXPECT_EQ(run.out, testCase.out);
        EXPECT_EQ(run.err, testCase.err);
    }
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(chrome.isRegistered());
}

TEST(SetupCommandLine, ReportsTheStatusWithEverySlashEscaped) {
    InstalledCopy setup;
    const Integration integration = setup.integration();
    const ProgramRun fresh = setup.run({"--status"});
    EXPECT_EQ(fresh.status, 0);
    EXPECT_EQ(fresh.err, "");
    EXPECT_EQ(fresh.out, "{\"helper\":\"" + escapedSlashes(integration.helperPath()) +
                             "\",\"manifest\":\"" + escapedSlashes(integration.manifestPath()) +
                             "\",\"registered\":false,\"version\":\"0.1.0\"}\n");

    integration.registerHost(false);
    EXPECT_NE(setup.run({"--status"}).out.find("\"registered\":true"), std::string::npos);

    const Integration defaults(setup.sandbox.bundle().string(), setup.sandbox.home().string(),
                               std::nullopt);
    const ProgramRun byDefault = setup.run({"--status"}, false);
    EXPECT_NE(byDefault.out.find(escapedSlashes(defaults.manifestPath())), std::string::npos)
        << byDefault.out;
    EXPECT_NE(byDefault.out.find("\\/.config\\/google-chrome\\/NativeMessagingHosts\\/"),
              std::string::npos);
}

TEST(SetupCommandLine, ReportsTheStatusOfACopyOutsideTheInstallRoots) {
    SetupSandbox sandbox;
    const fs::path bundle = sandbox.home() / "Downloads" / "Quenra Bridge.app";
    fs::create_directories(bundle / "Contents" / "MacOS");
    fs::copy_file(fs::path(QUENRA_BUNDLE_EXECUTABLES) / "quenra-bridge-setup",
                  bundle / "Contents" / "MacOS" / "quenra-bridge-setup");
    const ProgramRun status =
        testing::runProgram(bundle / "Contents" / "MacOS" / "quenra-bridge-setup", {"--status"},
                            {"HOME=" + sandbox.home().string()});
    EXPECT_EQ(status.status, 0);
    EXPECT_NE(status.out.find("\"registered\":false"), std::string::npos);
    const ProgramRun test =
        testing::runProgram(bundle / "Contents" / "MacOS" / "quenra-bridge-setup", {"--test"},
                            {"HOME=" + sandbox.home().string()});
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(test.err, std::string(SetupFailure::description(Kind::unsafeLocation)) + "\n");
}

TEST(SetupCommandLine, RegistersTestsAndUnregisters) {
    InstalledCopy setup;
    const Integration integration = setup.integration();

    EXPECT_EQ(setup.run({"--test"}).out, passed);
    const ProgramRun registered = setup.run({"--register"});
    EXPECT_EQ(registered.status, 0);
    EXPECT_EQ(registered.out, passed + "Registered: " + integration.manifestPath() + "\n");
    EXPECT_TRUE(integration.isRegistered());

    const ProgramRun again = setup.run({"--register", "--replace"});
    EXPECT_EQ(again.out, passed + "Registered: " + integration.manifestPath() + "\n");

    const ProgramRun unregistered = setup.run({"--unregister"});
    EXPECT_EQ(unregistered.status, 0);
    EXPECT_EQ(unregistered.out, removed);
    EXPECT_FALSE(integration.manifestItemExists());
    const ProgramRun nothing = setup.run({"--unregister"});
    EXPECT_EQ(nothing.status, 0);
    EXPECT_EQ(nothing.out, removed);
}

TEST(SetupCommandLine, GivesWhatItCreatesItsExactModeWhateverTheUmask) {
    for (const mode_t umask : {mode_t{0277}, mode_t{0000}}) {
        SCOPED_TRACE(umask);
        InstalledCopy setup;
        const Integration integration = setup.integration();
        std::vector<fs::path> made;  // the folders --register has to make
        for (fs::path folder = integration.hostDirectory(); !fs::exists(folder);
             folder = folder.parent_path()) {
            made.push_back(folder);
        }
        ASSERT_FALSE(made.empty());
        const mode_t previous = ::umask(umask);
        const ProgramRun registered = setup.run({"--register"});
        setup.placeForeignManifest();
        const mode_t foreignMode = testing::modeOf(integration.manifestPath());
        const ProgramRun replaced = setup.run({"--register", "--replace"});
        ::umask(previous);
        EXPECT_EQ(registered.status, 0) << registered.err;
        EXPECT_EQ(replaced.status, 0) << replaced.err;

        EXPECT_EQ(testing::modeOf(integration.manifestPath()), 0644u);
        for (const fs::path& folder : made) {
            EXPECT_EQ(testing::modeOf(folder), 0755u) << folder;
        }
        std::size_t backups = 0;
        for (const auto& item : fs::directory_iterator(integration.hostDirectory())) {
            if (item.path().extension() == ".bak") {
                EXPECT_EQ(testing::modeOf(item.path()), foreignMode) << item.path();
                ++backups;
            }
        }
        EXPECT_EQ(backups, 1u);
    }
}

TEST(SetupCommandLine, ReplacesAForeignRegistrationOnlyWhenAsked) {
    InstalledCopy setup;
    const Integration integration = setup.integration();
    setup.placeForeignManifest();
    const std::string foreign = testing::readFile(integration.manifestPath());

    const ProgramRun refused = setup.run({"--register"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, passed);
    EXPECT_EQ(refused.err, std::string(SetupFailure::description(Kind::conflict)) + "\n");
    EXPECT_EQ(testing::readFile(integration.manifestPath()), foreign);

    const ProgramRun kept = setup.run({"--unregister"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, std::string(SetupFailure::description(Kind::foreignRegistration)) + "\n");

    const ProgramRun replaced = setup.run({"--register", "--replace"});
    EXPECT_EQ(replaced.status, 0);
    const std::string prefix = passed + "Registered: " + integration.manifestPath() + "\n" +
                               "Previous registration saved: ";
    ASSERT_TRUE(replaced.out.starts_with(prefix)) << replaced.out;
    ASSERT_TRUE(replaced.out.ends_with(".json.bak\n"));
    const std::string backup =
        replaced.out.substr(prefix.size(), replaced.out.size() - prefix.size() - 1);
    EXPECT_EQ(fs::path(backup).parent_path(), fs::path(integration.hostDirectory()));
    EXPECT_EQ(testing::readFile(backup), foreign);
    EXPECT_TRUE(integration.isRegistered());
}

TEST(SetupCommandLine, RegistersNothingWhenTheHelperFails) {
    InstalledCopy setup;
    setup.sandbox.setOutput("self-test", R"({"cache":"ok","dragBoard":"unavailable"})");
    const std::string invalid = std::string(SetupFailure::description(Kind::invalidReply)) + "\n";
    const ProgramRun test = setup.run({"--test"});
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(test.out, "");
    EXPECT_EQ(test.err, invalid);
    const ProgramRun registered = setup.run({"--register"});
    EXPECT_EQ(registered.status, 1);
    EXPECT_EQ(registered.err, invalid);
    EXPECT_FALSE(fs::exists(setup.sandbox.chromeData()));
}

// No library's text reaches the user: each failure is a sentence that names the file, with the
// same exit status as before.
TEST(SetupCommandLine, SaysWhatWentWrongInItsOwnWordsNamingTheFile) {
    InstalledCopy setup;
    const Integration integration = setup.integration();
    const std::string manifest = integration.manifestPath();
    const std::string unreadable =
        "The registration file " + manifest +
        " is not a host manifest this program can read; quenra-bridge-setup --register "
        "--replace --chrome-user-data-dir " +
        setup.sandbox.chromeData().string() + " backs it up and replaces it.\n";
    fs::create_directories(integration.hostDirectory());
    for (const std::string& bytes :
         {std::string("{\"name\": tech.ostrell"), std::string("[]"), std::string("{}")}) {
        SCOPED_TRACE(bytes);
        testing::writeFile(manifest, bytes);
        for (const char* command : {"--status", "--unregister"}) {
            const ProgramRun run = setup.run({command});
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, unreadable);
        }
        const ProgramRun kept = setup.run({"--register"});
        EXPECT_EQ(kept.status, 1);
        EXPECT_EQ(kept.err, std::string(SetupFailure::description(Kind::conflict)) + "\n");
        EXPECT_EQ(testing::readFile(manifest), bytes);
    }
    const ProgramRun replaced = setup.run({"--register", "--replace"});
    EXPECT_EQ(replaced.status, 0);
    EXPECT_TRUE(integration.isRegistered());

    // The manifest's place taken by a folder.
    fs::remove(manifest);
    fs::create_directories(fs::path(manifest) / "inside");
    const ProgramRun status = setup.run({"--status"});
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(status.err, "Could not read the registration file " + manifest +
                              ": it is a folder, not a file.\n");
    const ProgramRun removal = setup.run({"--unregister"});
    EXPECT_EQ(removal.status, 1);
    EXPECT_EQ(removal.err, "Could not remove the registration file " + manifest +
                               ": it is a folder, not a file.\n");

    // A FIFO there: named and refused at once, never waited on, backed up or replaced.
    fs::remove_all(manifest);
    ASSERT_EQ(::mkfifo(manifest.c_str(), 0644), 0);
    const std::string fifo = manifest + ": it is a named pipe (FIFO), not a file.\n";
    const ProgramRun fifoStatus = setup.run({"--status"});
    EXPECT_EQ(fifoStatus.status, 1);
    EXPECT_EQ(fifoStatus.err, "Could not read the registration file " + fifo);
    const auto itemsBeside = [&] {
        return std::distance(fs::directory_iterator(integration.hostDirectory()),
                             fs::directory_iterator());
    };
    const auto before = itemsBeside();
    const ProgramRun fifoReplace = setup.run({"--register", "--replace"});
    EXPECT_EQ(fifoReplace.status, 1);
    EXPECT_EQ(fifoReplace.err, "Could not write the registration file " + fifo);
    EXPECT_TRUE(fs::is_fifo(manifest));
    EXPECT_EQ(itemsBeside(), before) << "no backup of a FIFO";
    fs::remove(manifest);

    // A user-data folder named by a file: nothing can be created below it.
    const fs::path file = setup.sandbox.home() / "a-file";
    testing::writeFile(file, "not a folder");
    const std::vector<std::string> options = {"--chrome-user-data-dir", file.string()};
    const ProgramRun fileStatus = setup.run({"--status", options[0], options[1]}, false);
    EXPECT_EQ(fileStatus.status, 0);
    EXPECT_NE(fileStatus.out.find("\"registered\":false"), std::string::npos);
    const ProgramRun fileRegister = setup.run({"--register", options[0], options[1]}, false);
    EXPECT_EQ(fileRegister.status, 1);
    EXPECT_EQ(fileRegister.out, passed);
    EXPECT_EQ(fileRegister.err, "Could not create the folder " + file.string() +
                                    "/NativeMessagingHosts: a part of that path is a file, not "
                                    "a folder.\n");
    EXPECT_EQ(testing::readFile(file), "not a folder");
}

// ~/.config linked into a dotfiles folder: the refusal stays, and a second line names the link and
// the command that registers in the real folder, which then works.
TEST(SetupCommandLine, NamesTheLinkOnTheWayAndHowToRegisterAnyway) {
    InstalledCopy setup;
    const fs::path& home = setup.sandbox.home();
    const fs::path dotfiles = home / "dotfiles" / "config";
    fs::create_directories(dotfiles / "google-chrome");
    fs::create_symlink(dotfiles, home / ".config");
    const std::string refusal = std::string(SetupFailure::description(Kind::symbolicLink)) + "\n";
    const std::string advice = (home / ".config").string() + " is a symbolic link to " +
                               dotfiles.string() +
                               ". To register anyway, name the real folder: quenra-bridge-setup "
                               "--register --chrome-user-data-dir " +
                               (dotfiles / "google-chrome").string() + "\n";
    for (const char* command : {"--status", "--register", "--unregister"}) {
        SCOPED_TRACE(command);
        const ProgramRun run = setup.run({command}, false);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, refusal + advice);
    }
    EXPECT_FALSE(fs::exists(dotfiles / "google-chrome" / "NativeMessagingHosts"));

    const ProgramRun anyway = setup.run(
        {"--register", "--chrome-user-data-dir", (dotfiles / "google-chrome").string()}, false);
    EXPECT_EQ(anyway.status, 0) << anyway.err;
    const Integration real(setup.sandbox.bundle().string(), home.string(),
                           (dotfiles / "google-chrome").string());
    EXPECT_TRUE(real.isRegistered());

    // A link below the browser's folder can't be avoided by naming a folder: it has to go.
    const fs::path elsewhere = home / "hosts-elsewhere";
    fs::create_directories(elsewhere);
    const fs::path profile = home / "profile";
    fs::create_directories(profile);
    fs::create_symlink(elsewhere, profile / "NativeMessagingHosts");
    const ProgramRun below = setup.run(
        {"--status", "--browser", "brave", "--chrome-user-data-dir", profile.string()}, false);
    EXPECT_EQ(below.status, 1);
    EXPECT_EQ(below.err, refusal + (profile / "NativeMessagingHosts").string() +
                             " is a symbolic link to " + elsewhere.string() +
                             ". Replace it with a real folder to register here.\n");
}

TEST(SetupCommandLine, RegistersTheDevelopmentBuildBesideTheRelease) {
    InstalledCopy setup;
    const Integration release = setup.integration();
    const Integration development(setup.sandbox.bundle().string(), setup.sandbox.home().string(),
                                  setup.sandbox.chromeData().string(), Browsers::chrome(),
                                  ExtensionBuild::development);
    ASSERT_EQ(setup.run({"--register"}).status, 0);
    const std::string releaseBytes = testing::readFile(release.manifestPath());
    const fs::file_time_type past = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(release.manifestPath(), past);

    const ProgramRun registered = setup.run({"--development", "--register"});
    EXPECT_EQ(registered.status, 0);
    EXPECT_EQ(registered.out, passed + "Registered: " + development.manifestPath() + "\n");
    EXPECT_EQ(setup.sandbox.receivedArguments("hello"),
              "chrome-extension://dgldcbgpnkooljhfhcjpkojcdnfkepnb/\n");
    EXPECT_EQ(testing::readFile(development.manifestPath()), development.expected().encode());

    const ProgramRun status = setup.run({"--status", "--development"});
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out, "{\"helper\":\"" + escapedSlashes(development.helperPath()) +
                              "\",\"manifest\":\"" + escapedSlashes(development.manifestPath()) +
                              "\",\"registered\":true,\"version\":\"0.1.0\"}\n");

    const ProgramRun removed = setup.run({"--unregister", "--development"});
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(removed.out,
              "This app's Chrome development integration was removed. MIDI files were "
              "retained.\n");
    EXPECT_FALSE(fs::exists(development.manifestPath()));
    EXPECT_EQ(testing::readFile(release.manifestPath()), releaseBytes);
    EXPECT_EQ(fs::last_write_time(release.manifestPath()), past);
    EXPECT_TRUE(release.isRegistered());
}

TEST(SetupCommandLine, SaysSoInOneLineWhenThereIsNoDisplay) {
    InstalledCopy setup;
    const ProgramRun window =
        testing::runProgram(setup.program(), {}, {"HOME=" + setup.sandbox.home().string()});
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.out, "");
    ASSERT_FALSE(window.err.empty());
    EXPECT_EQ(window.err.find('\n'), window.err.size() - 1) << window.err;
}

// Naming browsers: one with --browser ID, every one the user has with --browser all, over a
// private home holding several browsers' folders.

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
