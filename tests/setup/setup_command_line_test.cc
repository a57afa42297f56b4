// The real quenra-bridge-setup, copied into a bundle under a private home beside a scripted
// helper, driven as a script or a support engineer would.
#include <gtest/gtest.h>

#include <filesystem>

#include "setup_core/connection_test.h"
#include "setup_core/integration.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using test::ProgramRun;
using test::SetupSandbox;
using Kind = SetupFailure::Kind;

const std::string usage =
    "usage: quenra-bridge-setup [--status|--register|--unregister|--test] "
    "[--chrome-user-data-dir /path] [--replace]\n";
const std::string removed =
    "This app's Chrome integration was removed. MIDI files were retained.\n";

struct InstalledCopy {
    SetupSandbox sandbox;

    InstalledCopy() {
        sandbox.installFakeHelper();
        sandbox.answerCorrectly();
        fs::create_directories(program().parent_path());
        fs::copy_file(fs::path(QUENRA_BUNDLE_EXECUTABLES) / "quenra-bridge-setup", program(),
                      fs::copy_options::overwrite_existing);
    }
    fs::path program() const { return sandbox.executables() / "quenra-bridge-setup"; }
    ProgramRun run(std::vector<std::string> arguments, bool withChromeData = true) const {
        if (withChromeData) {
            arguments.push_back("--chrome-user-data-dir");
            arguments.push_back(sandbox.chromeData().string());
        }
        return test::runProgram(
            program(), arguments,
            {"HOME=" + sandbox.home().string(), "LANG=C", "PATH=/usr/bin:/bin"});
    }
    Integration integration() const {
        return Integration(sandbox.bundle().string(), sandbox.home().string(),
                           sandbox.chromeData().string());
    }
    void placeForeignManifest() const {
        HostRegistration other = integration().expected();
        other.path = "/Applications/Other.app/Contents/MacOS/quenra-native-host";
        fs::create_directories(integration().hostDirectory());
        test::writeFile(integration().manifestPath(), other.encode());
    }
};

std::string escapedSlashes(const std::string& text) {
    std::string escaped;
    for (char character : text) {
        if (character == '/') {
            escaped += '\\';
        }
        escaped += character;
    }
    return escaped;
}

TEST(SetupCommandLine, RefusesBadArgumentsBeforeTouchingAnything) {
    const std::string absolute = "--chrome-user-data-dir requires an absolute path.\n";
    const std::string unknown = "Unknown or repeated option: ";
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"--test", "--replace"}, unknown + "--replace\n"},
        {{"--register", "--replace", "--replace"}, unknown + "--replace\n"},
        {{"--status", "--chrome-user-data-dir"}, absolute},
        {{"--status", "--chrome-user-data-dir", "relative/dir"}, absolute},
        {{"--status", "--chrome-user-data-dir", "/a", "--chrome-user-data-dir", "/b"},
         unknown + "--chrome-user-data-dir\n"},
        {{"--status", "--test"}, unknown + "--test\n"},
        {{"--register", "--force"}, unknown + "--force\n"},
        {{"--help"}, usage},
        {{"--help", "--replace"}, unknown + "--replace\n"},
        {{"--chrome-user-data-dir", "/a"}, unknown + "/a\n"},
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
        test::runProgram(bundle / "Contents" / "MacOS" / "quenra-bridge-setup", {"--status"},
                         {"HOME=" + sandbox.home().string()});
    EXPECT_EQ(status.status, 0);
    EXPECT_NE(status.out.find("\"registered\":false"), std::string::npos);
    const ProgramRun test = test::runProgram(bundle / "Contents" / "MacOS" / "quenra-bridge-setup",
                                             {"--test"}, {"HOME=" + sandbox.home().string()});
    EXPECT_EQ(test.status, 1);
    EXPECT_EQ(test.err, std::string(SetupFailure::description(Kind::unsafeLocation)) + "\n");
}

TEST(SetupCommandLine, RegistersTestsAndUnregisters) {
    InstalledCopy setup;
    const Integration integration = setup.integration();
    const std::string passed = ConnectionTest::successText() + "\n";

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

TEST(SetupCommandLine, ReplacesAForeignRegistrationOnlyWhenAsked) {
    InstalledCopy setup;
    const Integration integration = setup.integration();
    const std::string passed = ConnectionTest::successText() + "\n";
    setup.placeForeignManifest();
    const std::string foreign = test::readFile(integration.manifestPath());

    const ProgramRun refused = setup.run({"--register"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, passed);
    EXPECT_EQ(refused.err, std::string(SetupFailure::description(Kind::conflict)) + "\n");
    EXPECT_EQ(test::readFile(integration.manifestPath()), foreign);

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
    EXPECT_EQ(test::readFile(backup), foreign);
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

TEST(SetupCommandLine, SaysSoInOneLineWhenThereIsNoDisplay) {
    InstalledCopy setup;
    const ProgramRun window =
        test::runProgram(setup.program(), {}, {"HOME=" + setup.sandbox.home().string()});
    EXPECT_EQ(window.status, 1);
    EXPECT_EQ(window.out, "");
    ASSERT_FALSE(window.err.empty());
    EXPECT_EQ(window.err.find('\n'), window.err.size() - 1) << window.err;
}

}  // namespace
}  // namespace quenra
