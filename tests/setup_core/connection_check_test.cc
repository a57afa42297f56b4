#include "setup_core/connection_check.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <boost/json/parse.hpp>
#include <boost/system/system_error.hpp>
#include <cerrno>
#include <filesystem>
#include <regex>

#include "setup_core/integration.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using testing::SetupSandbox;
using Kind = SetupFailure::Kind;

const std::string selfTestReport = R"({"cache":"ok","dragBoard":"ok","helperVersion":"0.1.0"})";

Integration integrationFor(const SetupSandbox& sandbox) {
    return Integration(sandbox.bundle().string(), sandbox.home().string(),
                       sandbox.chromeData().string());
}

// The test's outcome as the user would read it; "json error" for the parser's own error.
std::string outcome(const Integration& integration) {
    try {
        return integration.testConnection();
    } catch (const SetupFailure& failure) {
        return failure.what();
    } catch (const boost::system::system_error&) {
        return "json error";
    }
}

bool processExists(int pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

std::string helloWith(const std::string& replacement, const std::string& original) {
    std::string body = testing::helloBodyOfSize(200);
    body.replace(body.find(original), original.size(), replacement);
    return testing::frame(body);
}

TEST(ConnectionCheck, PassesWithAHealthyHelperAndSendsOneHelloFrame) {
    SetupSandbox sandbox;
    sandbox.installFakeHelper();
    sandbox.answerCorrectly();
    const Integration integration = integrationFor(sandbox);

    EXPECT_EQ(outcome(integration),
              "Helper 0.1.0: cache, drag pasteboard and Native Messaging HELLO passed.");
    const std::string first = sandbox.receivedInput();
    ASSERT_GE(first.size(), 4u);
    const std::uint32_t length =
        static_cast<unsigned char>(first[0]) | static_cast<unsigned char>(first[1]) << 8 |
        static_cast<unsigned char>(first[2]) << 16 | static_cast<unsigned char>(first[3]) << 24;
    ASSERT_EQ(length + 4u, first.size());
    const boost::json::value body = boost::json::parse(first.substr(4));
    EXPECT_EQ(body.at("type"), "HELLO");
    EXPECT_EQ(body.at("requestId"), "setup-test");
    EXPECT_EQ(body.at("protocolVersion"), "1.0");
    EXPECT_EQ(body.at("extensionVersion"), "0.1.0");
    EXPECT_EQ(body.at("session").at("epoch"), 1);
    const std::string id(body.at("session").at("id").as_string());
    EXPECT_TRUE(std::regex_match(id, std::regex("setup-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")))
        << id;

    ASSERT_EQ(outcome(integration), ConnectionCheck::successText());
    const boost::json::value second = boost::json::parse(sandbox.receivedInput().substr(4));
    EXPECT_NE(second.at("session").at("id"), body.at("session").at("id"));
    EXPECT_EQ(second.at("requestId"), "setup-test");
}

TEST(ConnectionCheck, StartsTheHelperAsTheBrowserWouldForEachBuildOfTheExtension) {
    SetupSandbox sandbox;
    sandbox.installFakeHelper();
    sandbox.answerCorrectly();
    ASSERT_EQ(outcome(integrationFor(sandbox)), ConnectionCheck::successText());
    EXPECT_EQ(sandbox.receivedArguments("self-test"), "--self-test\n");
    EXPECT_EQ(sandbox.receivedArguments("hello"),
              "chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/\n");

    const Integration development(sandbox.bundle().string(), sandbox.home().string(),
                                  sandbox.chromeData().string(), Browsers::chrome(),
                                  ExtensionBuild::development);
    ASSERT_EQ(outcome(development), ConnectionCheck::successText());
    EXPECT_EQ(sandbox.receivedArguments("hello"),
              "chrome-extension://dgldcbgpnkooljhfhcjpkojcdnfkepnb/\n");
}

TEST(ConnectionCheck, JudgesTheAnswersInOrder) {
    const std::string invalid = SetupFailure::description(Kind::invalidReply);
    const std::string passed = ConnectionCheck::successText();
    const std::string wellFormed = testing::frame(testing::helloBodyOfSize(200));
    struct Case {
        const char* name;
        std::string selfTest;
        int selfTestStatus;
        std::string hello;
        int helloStatus;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"self-test exits 1", selfTestReport, 1, wellFormed, 0, invalid},
        {"drag board unavailable", R"({"cache":"ok","dragBoard":"unavailable"})", 0, wellFormed, 0,
         invalid},
        {"cache failed", R"({"cache":"failed","dragBoard":"ok"})", 0, wellFormed, 0, invalid},
        {"self-test without cache", R"({"dragBoard":"ok"})", 0, wellFormed, 0, invalid},
        {"self-test not an object", R"(["ok"])", 0, wellFormed, 0, invalid},
        {"self-test not JSON", "cache ok", 0, wellFormed, 0, "json error"},
        {"refused caller", selfTestReport, 0, "", 1, invalid},
        {"reply exits 1", selfTestReport, 0, wellFormed, 1, invalid},
        {"no reply", selfTestReport, 0, "", 0, invalid},
        {"three bytes", selfTestReport, 0, std::string("\x02\x00\x00", 3), 0, invalid},
        {"trailing byte", selfTestReport, 0, wellFormed + "\n", 0, invalid},
        {"second frame", selfTestReport, 0, wellFormed + wellFormed, 0, invalid},
        {"cut short", selfTestReport, 0, wellFormed.substr(0, wellFormed.size() - 1), 0, invalid},
        {"body of 65536 bytes", selfTestReport, 0, testing::frame(testing::helloBodyOfSize(65536)),
         0, passed},
        {"body of 65537 bytes", selfTestReport, 0, testing::frame(testing::helloBodyOfSize(65537)),
         0, invalid},
        {"body not JSON", selfTestReport, 0, testing::frame("HELLO_OK"), 0, "json error"},
        {"body not an object", selfTestReport, 0, testing::frame("[]"), 0, invalid},
        {"error reply", selfTestReport, 0, helloWith(R"("type":"ERROR")", R"("type":"HELLO_OK")"),
         0, invalid},
        {"other request id", selfTestReport, 0,
         helloWith(R"("requestId":"other")", R"("requestId":"setup-test")"), 0, invalid},
        {"other protocol", selfTestReport, 0,
         helloWith(R"("protocolVersion":"2.0")", R"("protocolVersion":"1.0")"), 0, invalid},
        {"protocol as a number", selfTestReport, 0,
         helloWith(R"("protocolVersion":1.0)", R"("protocolVersion":"1.0")"), 0, invalid},
        {"other helper release", selfTestReport, 0,
         helloWith(R"("helperVersion":"0.2.0")", R"("helperVersion":"0.1.0")"), 0, invalid},
        {"no helper version", selfTestReport, 0,
         helloWith(R"("helperVersionX":"0.1.0")", R"("helperVersion":"0.1.0")"), 0, invalid},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        SetupSandbox sandbox;
        sandbox.installFakeHelper();
        sandbox.setOutput("self-test", testCase.selfTest);
        sandbox.setStatus("self-test", testCase.selfTestStatus);
        sandbox.setOutput("hello", testCase.hello);
        sandbox.setStatus("hello", testCase.helloStatus);
        EXPECT_EQ(outcome(integrationFor(sandbox)), testCase.expected);
    }
}

TEST(ConnectionCheck, StartsNothingFromAnIncompleteCopy) {
    SetupSandbox sandbox;
    EXPECT_EQ(outcome(integrationFor(sandbox)), SetupFailure::description(Kind::missingHelper));
    EXPECT_THROW(ConnectionCheck::runHelper(sandbox.helper().string(), {"--self-test"}, {}),
                 std::system_error);
}

TEST(ConnectionCheck, EndsAndReapsAHelperThatOverrunsItsLimit) {
    for (const bool ignoresTerminate : {false, true}) {
        SCOPED_TRACE(ignoresTerminate ? "ignores SIGTERM" : "never exits");
        SetupSandbox sandbox;
        sandbox.installFakeHelper();
        sandbox.setHang("hello", ignoresTerminate);
        try {
            ConnectionCheck::runHelper(sandbox.helper().string(), {"origin"}, std::string("x"),
                                       std::chrono::milliseconds(1500));
            ADD_FAILURE() << "no timeout";
        } catch (const SetupFailure& failure) {
            EXPECT_EQ(failure.kind(), Kind::timeout);
        }
        const std::optional<int> pid = sandbox.lastPid("hello");
        ASSERT_TRUE(pid);
        EXPECT_FALSE(processExists(*pid));
    }
}

TEST(ConnectionCheck, ReportsTheTimeLimitInTheUsersWords) {
    SetupSandbox sandbox;
    sandbox.installFakeHelper();
    sandbox.answerCorrectly();
    sandbox.setHang("hello", true);
    EXPECT_EQ(outcome(integrationFor(sandbox)),
              "The native helper did not finish its connection test within 10 seconds.");
    ASSERT_TRUE(sandbox.lastPid("hello"));
    EXPECT_FALSE(processExists(*sandbox.lastPid("hello")));
}

TEST(ConnectionCheck, DrainsAFloodWithoutStallingTheHelper) {
    SetupSandbox sandbox;
    sandbox.installFakeHelper();
    sandbox.setOutput("self-test", std::string(3 << 20, 'x'));
    try {
        ConnectionCheck::runHelper(sandbox.helper().string(), {"--self-test"}, {},
                                   std::chrono::milliseconds(5000));
        ADD_FAILURE() << "a flood was accepted";
    } catch (const SetupFailure& failure) {
        EXPECT_EQ(failure.kind(), Kind::invalidReply);
    }
}

// The real helper, copied into a bundle under a private home, as Chrome would start it.
TEST(ConnectionCheck, PassesWithTheRealHelper) {
    const fs::path built = fs::path(QUENRA_BUNDLE_EXECUTABLES) / "quenra-native-host";
    SetupSandbox sandbox;
    fs::copy_file(built, sandbox.helper());
    const std::string home = sandbox.home().string();
    const std::string runtime = (sandbox.home() / "run").string();
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    const char* savedHome = std::getenv("HOME");
    const std::string restoreHome = savedHome ? savedHome : "";
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    std::string selfTest;
    try {
        selfTest = ConnectionCheck::runHelper(sandbox.helper().string(), {"--self-test"}, {});
    } catch (const SetupFailure&) {
    }
    std::string result;
    std::string development;
    if (!selfTest.empty()) {
        result = outcome(integrationFor(sandbox));
        // The host serves the development extension too.
        development =
            outcome(Integration(sandbox.bundle().string(), home, sandbox.chromeData().string(),
                                Browsers::chrome(), ExtensionBuild::development));
    }
    ::setenv("HOME", restoreHome.c_str(), 1);
    ::unsetenv("XDG_CACHE_HOME");
    ::unsetenv("XDG_RUNTIME_DIR");
    if (selfTest.empty()) {
        GTEST_SKIP() << "the built host does not answer --self-test yet";
    }
    EXPECT_EQ(result, ConnectionCheck::successText());
    EXPECT_EQ(development, ConnectionCheck::successText());
}

}  // namespace
}  // namespace quenra
