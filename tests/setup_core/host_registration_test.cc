#include "setup_core/host_registration.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <boost/system/system_error.hpp>
#include <filesystem>
#include <regex>
#include <thread>

#include "bridge_core/files.h"
#include "setup_core/failure_text.h"
#include "setup_core/integration.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using testing::SetupSandbox;
using Kind = SetupFailure::Kind;

const char* const applicationsManifest =
    "{\n"
    "  \"allowed_origins\" : [\n"
    "    \"chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/\"\n"
    "  ],\n"
    "  \"description\" : \"Quenra DAW Bridge helper\",\n"
    "  \"name\" : \"tech.ostrell.quenra.bridge\",\n"
    "  \"path\" : \"/Applications/Quenra Bridge.app/Contents/MacOS/quenra-native-host\",\n"
    "  \"type\" : \"stdio\"\n"
    "}\n";

// A sandbox with a complete bundle and the Integration that works on it.
struct Fixture {
    SetupSandbox sandbox;
    Integration integration;

    Fixture()
        : integration(sandbox.bundle().string(), sandbox.home().string(),
                      sandbox.chromeData().string()) {
        sandbox.installFakeHelper();
    }
    fs::path manifest() const { return integration.manifestPath(); }
    void place(const std::string& bytes) const {
        fs::create_directories(integration.hostDirectory());
        testing::writeFile(manifest(), bytes);
    }
    std::string foreign() const {
        HostRegistration other = integration.expected();
        other.path = "/Applications/Old Copy.app/Contents/MacOS/quenra-native-host";
        return other.encode();
    }
    std::vector<fs::path> backups() const {
        std::vector<fs::path> found;
        if (fs::exists(integration.hostDirectory())) {
            for (const auto& entry : fs::directory_iterator(integration.hostDirectory())) {
                if (entry.path().filename().string().ends_with(".bak")) {
                    found.push_back(entry.path());
                }
            }
        }
        return found;
    }
};

std::string failureOf(const std::function<void()>& operation) {
    try {
        operation();
        return "";
    } catch (const SetupFailure& failure) {
        return failure.what();
    } catch (const boost::system::system_error&) {
        return "json error";
    }
}

TEST(HostRegistration, EncodesTheManifestChromeReads) {
    const Integration integration("/Applications/Quenra Bridge.app", "/home/u", std::nullopt);
    EXPECT_EQ(integration.expected().encode(), applicationsManifest);
}

TEST(HostRegistration, DecodesTheFiveKeysAndIgnoresTheRest) {
    HostRegistration decoded = HostRegistration::decode(
        R"({"allowed_origins":["a","b"],"description":"d","extra":[1,{}],"name":"n",)"
        R"("path":"/p","type":"stdio"})");
    EXPECT_EQ(decoded, (HostRegistration{"n", "d", "/p", "stdio", {"a", "b"}}));
    const Integration integration("/Applications/Quenra Bridge.app", "/home/u", std::nullopt);
    EXPECT_EQ(HostRegistration::decode(applicationsManifest), integration.expected());
}

TEST(HostRegistration, RefusesManifestsOfTheWrongShape) {
    const std::vector<std::string> shapes = {
        R"([])",
        R"("text")",
        R"({"allowed_origins":[],"description":"d","name":"n","path":"/p"})",
        R"({"allowed_origins":[],"description":"d","name":"n","path":1,"type":"stdio"})",
        R"({"allowed_origins":"o","description":"d","name":"n","path":"/p","type":"stdio"})",
        R"({"allowed_origins":[1],"description":"d","name":"n","path":"/p","type":"stdio"})",
        R"({"allowed_origins":[],"description":null,"name":"n","path":"/p","type":"stdio"})",
    };
    for (const std::string& shape : shapes) {
        SCOPED_TRACE(shape);
        EXPECT_THROW(HostRegistration::decode(shape), ManifestFormatError);
    }
    EXPECT_THROW(HostRegistration::decode("{\"name\":"), boost::system::system_error);
    EXPECT_THROW(HostRegistration::decode(""), boost::system::system_error);
}

enum class State { absent, mine, foreign, unreadable };
enum class Operation { registerKeeping, registerReplacing, unregister };

struct Transition {
    State from;
    Operation operation;
    std::string failure;         // empty for success
    std::optional<State> after;  // the file afterwards: absent, ours, or the original bytes
    bool backup;
};

TEST(HostRegistration, FollowsTheManifestStateTable) {
    const std::string conflict = SetupFailure::description(Kind::conflict);
    const std::string foreignMessage = SetupFailure::description(Kind::foreignRegistration);
    const std::vector<Transition> table = {
        {State::absent, Operation::registerKeeping, "", State::mine, false},
        {State::absent, Operation::registerReplacing, "", State::mine, false},
        {State::absent, Operation::unregister, "", State::absent, false},
        {State::mine, Operation::registerKeeping, "", State::mine, false},
        {State::mine, Operation::registerReplacing, "", State::mine, false},
        {State::mine, Operation::unregister, "", State::absent, false},
        {State::foreign, Operation::registerKeeping, conflict, State::foreign, false},
        {State::foreign, Operation::registerReplacing, "", State::mine, true},
        {State::foreign, Operation::unregister, foreignMessage, State::foreign, false},
        {State::unreadable, Operation::registerKeeping, conflict, State::unreadable, false},
        {State::unreadable, Operation::registerReplacing, "", State::mine, true},
        {State::unreadable, Operation::unregister, "json error", State::unreadable, false},
    };
    for (const Transition& row : table) {
        SCOPED_TRACE(::testing::PrintToString(static_cast<int>(row.from)) + " / " +
                     ::testing::PrintToString(static_cast<int>(row.operation)));
        Fixture fixture;
        std::string original;
        switch (row.from) {
            case State::absent:
                break;
            case State::mine:
                original = fixture.integration.expected().encode();
                break;
            case State::foreign:
                original = fixture.foreign();
                break;
            case State::unreadable:
                original = "{\"name\": tech.ostrell";
                break;
        }
        if (row.from != State::absent) {
            fixture.place(original);
        }
        std::optional<std::string> backup;
        const std::string failure = failureOf([&] {
            if (row.operation == Operation::unregister) {
                fixture.integration.unregister();
            } else {
                backup =
                    fixture.integration.registerHost(row.operation == Operation::registerReplacing);
            }
        });
        EXPECT_EQ(failure, row.failure);
        if (row.after == State::absent) {
            EXPECT_FALSE(fs::exists(fixture.manifest()));
        } else if (row.after == State::mine) {
            EXPECT_EQ(testing::readFile(fixture.manifest()),
                      fixture.integration.expected().encode());
            EXPECT_TRUE(fixture.integration.isRegistered());
        } else {
            EXPECT_EQ(testing::readFile(fixture.manifest()), original);
        }
        EXPECT_EQ(backup.has_value(), row.backup);
        EXPECT_EQ(fixture.backups().size(), row.backup ? 1u : 0u);
        if (backup) {
            EXPECT_EQ(testing::readFile(*backup), original);
        }
    }
}

TEST(HostRegistration, NamesTheBackupAfterTheHostWithAFreshUUID) {
    Fixture fixture;
    fixture.place(fixture.foreign());
    const std::optional<std::string> first = fixture.integration.registerHost(true);
    fixture.place(fixture.foreign());
    const std::optional<std::string> second = fixture.integration.registerHost(true);
    ASSERT_TRUE(first && second);
    const std::regex name(
        R"(tech\.ostrell\.quenra\.bridge\.backup-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\.json\.bak)");
    for (const std::string& path : {*first, *second}) {
        EXPECT_EQ(fs::path(path).parent_path(), fs::path(fixture.integration.hostDirectory()));
        EXPECT_TRUE(std::regex_match(fs::path(path).filename().string(), name)) << path;
        EXPECT_EQ(testing::readFile(path), fixture.foreign());
    }
    EXPECT_NE(*first, *second);
}

TEST(HostRegistration, KeepsTheDevelopmentRegistrationBesideTheReleaseOne) {
    Fixture fixture;
    const Integration development(
        fixture.sandbox.bundle().string(), fixture.sandbox.home().string(),
        fixture.sandbox.chromeData().string(), Browsers::chrome(), ExtensionBuild::development);
    EXPECT_EQ(development.manifestPath(),
              fixture.integration.hostDirectory() + "/tech.ostrell.quenra.bridge_dev.json");
    EXPECT_EQ(development.expected().encode(),
              "{\n"
              "  \"allowed_origins\" : [\n"
              "    \"chrome-extension://dgldcbgpnkooljhfhcjpkojcdnfkepnb/\"\n"
              "  ],\n"
              "  \"description\" : \"Quenra DAW Bridge helper\",\n"
              "  \"name\" : \"tech.ostrell.quenra.bridge_dev\",\n"
              "  \"path\" : \"" +
                  fixture.integration.helperPath() +
                  "\",\n"
                  "  \"type\" : \"stdio\"\n"
                  "}\n");

    // A release manifest of another copy stays exactly as it is, whatever the development
    // registration does.
    fixture.place(fixture.foreign());
    const fs::file_time_type past = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(fixture.manifest(), past);
    EXPECT_FALSE(development.registerHost(false));
    EXPECT_TRUE(development.isRegistered());
    EXPECT_FALSE(fixture.integration.isRegistered());
    development.unregister();
    EXPECT_FALSE(fs::exists(development.manifestPath()));
    EXPECT_EQ(testing::readFile(fixture.manifest()), fixture.foreign());
    EXPECT_EQ(fs::last_write_time(fixture.manifest()), past);

    // A foreign development manifest is backed up under the development name.
    HostRegistration other = development.expected();
    other.path = "/Applications/Old Copy.app/Contents/MacOS/quenra-native-host";
    testing::writeFile(development.manifestPath(), other.encode());
    const std::optional<std::string> backup = development.registerHost(true);
    ASSERT_TRUE(backup);
    EXPECT_TRUE(
        fs::path(*backup).filename().string().starts_with("tech.ostrell.quenra.bridge_dev.backup-"))
        << *backup;
    EXPECT_EQ(testing::readFile(*backup), other.encode());
    EXPECT_EQ(testing::readFile(fixture.manifest()), fixture.foreign());
}

TEST(HostRegistration, WritesAFreshProfileWithMode0644WhateverTheUmask) {
    Fixture fixture;
    const mode_t previous = ::umask(077);
    const std::optional<std::string> backup = fixture.integration.registerHost(false);
    ::umask(previous);
    EXPECT_FALSE(backup);
    struct stat status {};
    ASSERT_EQ(::stat(fixture.manifest().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
    const std::string bytes = testing::readFile(fixture.manifest());
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(bytes.find("\\/"), std::string::npos);
    EXPECT_NE(bytes.find("\"path\" : \"" + fixture.integration.helperPath() + "\""),
              std::string::npos);
    // Nothing but the manifest is left in the directory: no temporary file survives.
    EXPECT_EQ(std::distance(fs::directory_iterator(fixture.integration.hostDirectory()),
                            fs::directory_iterator()),
              1);
}

TEST(HostRegistration, LeavesItsOwnManifestUntouchedOnASecondRegister) {
    Fixture fixture;
    fixture.integration.registerHost(false);
    const fs::file_time_type past = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(fixture.manifest(), past);
    fs::permissions(fixture.manifest(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fixture.integration.registerHost(false));
    EXPECT_EQ(fs::last_write_time(fixture.manifest()), past);
    EXPECT_EQ(fs::status(fixture.manifest()).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(HostRegistration, ComparesEverythingButTheDescription) {
    Fixture fixture;
    HostRegistration worded = fixture.integration.expected();
    worded.description = "Reworded by an older release";
    fixture.place(worded.encode());
    EXPECT_TRUE(fixture.integration.isRegistered());
    EXPECT_FALSE(fixture.integration.registerHost(false));
    EXPECT_EQ(testing::readFile(fixture.manifest()), worded.encode());

    const auto foreignWith = [&](auto change) {
        HostRegistration other = fixture.integration.expected();
        change(other);
        fixture.place(other.encode());
        return fixture.integration.isRegistered();
    };
    EXPECT_FALSE(foreignWith([](HostRegistration& r) { r.allowedOrigins.push_back("x"); }));
    EXPECT_FALSE(foreignWith([](HostRegistration& r) { r.allowedOrigins.clear(); }));
    EXPECT_FALSE(foreignWith([](HostRegistration& r) { r.name += "_dev"; }));
    EXPECT_FALSE(foreignWith([](HostRegistration& r) { r.type = "Stdio"; }));
    EXPECT_FALSE(foreignWith([](HostRegistration& r) { r.path += "x"; }));

    fixture.place(R"({"allowed_origins":["chrome-extension://kembcdlbgbcnnchcnbdhbmbhbejnedjf/"],)"
                  R"("description":"","name":"tech.ostrell.quenra.bridge","path":")" +
                  fixture.integration.helperPath() + R"(","type":"stdio","comment":"by hand"})");
    EXPECT_TRUE(fixture.integration.isRegistered());
}

// A FIFO at the manifest's path would hold an open for reading until a writer came, and a
// device would be copied without end: every operation refuses either at once, in a sentence
// that says what sits there, and leaves it as it is with no backup beside it.
TEST(HostRegistration, RefusesAFifoOrADeviceAtTheManifestPathWithoutWaiting) {
    struct stat null {};
    ASSERT_EQ(::stat("/dev/null", &null), 0);
    struct Case {
        const char* what;
        mode_t type;
        FileKind found;
    };
    for (const Case& row :
         {Case{"it is a named pipe (FIFO), not a file", S_IFIFO, FileKind::namedPipe},
          Case{"it is a character device, not a file", S_IFCHR, FileKind::characterDevice}}) {
        SCOPED_TRACE(row.what);
        Fixture fixture;
        const std::string manifest = fixture.manifest().string();
        fs::create_directories(fixture.integration.hostDirectory());
        if (::mknod(manifest.c_str(), row.type | 0644, row.type == S_IFCHR ? null.st_rdev : 0) !=
            0) {
            GTEST_SKIP() << "cannot make a " << row.what << " here: errno " << errno;
        }
        // Should an open wait for a writer after all, this one comes along, so that the test
        // fails instead of hanging.
        std::atomic<bool> done{false};
        std::thread writer([&] {
            while (!done) {
                const Descriptor opened(
                    ::open(manifest.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
                ::usleep(1000);
            }
        });
        using FailureText::Operation;
        const std::vector<std::pair<Operation, std::function<void()>>> operations = {
            {Operation::registering, [&] { fixture.integration.registerHost(true); }},
            {Operation::unregistering, [&] { fixture.integration.unregister(); }},
            {Operation::checking, [&] { fixture.integration.isRegistered(); }},
        };
        std::vector<std::string> sentences;
        for (const auto& [operation, run] : operations) {
            try {
                run();
                ADD_FAILURE() << "no failure";
            } catch (const NotARegularFile& failure) {
                EXPECT_EQ(failure.found(), row.found);
                sentences.push_back(FailureText::ofCurrentFailure(
                    fixture.integration, operation, FailureText::Reader::commandLine));
            }
        }
        done = true;
        writer.join();
        const std::string end = manifest + ": " + row.what + ".";
        EXPECT_EQ(sentences,
                  (std::vector<std::string>{"Could not write the registration file " + end,
                                            "Could not remove the registration file " + end,
                                            "Could not read the registration file " + end}));
        EXPECT_TRUE(fixture.backups().empty());
        struct stat status {};
        ASSERT_EQ(::lstat(manifest.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & S_IFMT, row.type);
    }
}

TEST(HostRegistration, ChangesNothingFromAnUnsafeCopyOrThroughALink) {
    SetupSandbox sandbox;
    fs::create_directories(sandbox.home() / "Downloads" / "Quenra Bridge.app");
    const Integration downloaded((sandbox.home() / "Downloads" / "Quenra Bridge.app").string(),
                                 sandbox.home().string(), sandbox.chromeData().string());
    EXPECT_EQ(failureOf([&] { downloaded.registerHost(true); }),
              SetupFailure::description(Kind::unsafeLocation));
    EXPECT_FALSE(fs::exists(sandbox.chromeData()));

    sandbox.installFakeHelper();
    fs::create_directories(sandbox.home() / "profile");
    fs::create_directory_symlink(sandbox.home() / "profile", sandbox.chromeData());
    const Integration linked(sandbox.bundle().string(), sandbox.home().string(),
                             sandbox.chromeData().string());
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { linked.registerHost(true); }, [&] { linked.unregister(); },
             [&] { linked.isRegistered(); }}) {
        EXPECT_EQ(failureOf(operation), SetupFailure::description(Kind::symbolicLink));
    }
    EXPECT_TRUE(fs::is_empty(sandbox.home() / "profile"));
}

}  // namespace
}  // namespace quenra
