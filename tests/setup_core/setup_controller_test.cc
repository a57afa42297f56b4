#include "setup_core/setup_controller.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "support/scripted_view.h"
#include "support/setup_sandbox.h"

namespace quenra {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedView;
using testing::SetupSandbox;
using Kind = SetupFailure::Kind;
using Events = std::vector<std::string>;

struct Window {
    SetupSandbox sandbox;
    ScriptedView view;
    Integration integration;
    SetupController controller;

    explicit Window(bool korean = false)
        : integration(sandbox.bundle().string(), sandbox.home().string(),
                      sandbox.chromeData().string()),
          controller(integration, korean, view) {
        sandbox.installFakeHelper();
        sandbox.answerCorrectly();
    }
    void placeForeignManifest() const { (void)testing::placeForeignManifest(integration); }
    std::string manifest() const { return testing::readFile(integration.manifestPath()); }
};

const SetupTexts& en = SetupTexts::english();
const SetupTexts& ko = SetupTexts::korean();

std::string question(const std::string& text, const SetupTexts& texts = en) {
    return ScriptedView::asked(text, texts);
}

TEST(SetupController, SpeaksKoreanOnlyWhenKoreanComesFirst) {
    struct Case {
        std::vector<std::string> languages;
        bool korean;
    };
    const std::vector<Case> cases = {
        {{"ko-KR"}, true}, {{"ko"}, true},        {{"ko-KR", "en"}, true}, {{"en-KR"}, false},
        {{}, false},       {{"en", "ko"}, false}, {{"KO"}, false},
    };
    for (const Case& testCase : cases) {
        SCOPED_TRACE(::testing::PrintToString(testCase.languages));
        EXPECT_EQ(prefersKorean(testCase.languages), testCase.korean);
    }
    ScriptedView view;
    const Integration integration("/Applications/Quenra Bridge.app", "/home/u", std::nullopt);
    EXPECT_EQ(SetupController(integration, true, view).texts(), SetupTexts::korean());
    EXPECT_EQ(SetupController(integration, false, view).texts(), SetupTexts::english());
    EXPECT_EQ(SetupTexts::korean().installButton, "연결 설치 / 복구");
    EXPECT_EQ(en.versionLine, "0.1.0 \xC2\xB7 macOS 15+ \xC2\xB7 Apple silicon");
    EXPECT_EQ(SetupTexts::korean().versionLine, en.versionLine);
}

TEST(SetupController, ShowsWhyACopyInDownloadsCannotBeInstalled) {
    SetupSandbox sandbox;
    fs::create_directories(sandbox.home() / "Downloads" / "Quenra Bridge.app");
    ScriptedView view;
    SetupController controller(
        Integration((sandbox.home() / "Downloads" / "Quenra Bridge.app").string(),
                    sandbox.home().string(), sandbox.chromeData().string()),
        false, view);
    const std::string message = SetupFailure::description(Kind::unsafeLocation);
    controller.refresh();
    controller.installIntegration();
    EXPECT_EQ(view.events,
              (Events{"status: " + message, "alert: " + message, "status: " + message}));
}

TEST(SetupController, InstallsIntoAFreshProfileWithoutAsking) {
    Window window;
    window.controller.refresh();
    window.controller.installIntegration();
    EXPECT_EQ(window.view.events, (Events{"status: " + en.notRegistered, "alert: " + en.installDone,
                                          "status: " + en.registered}));
    EXPECT_EQ(window.manifest(), window.integration.expected().encode());
}

TEST(SetupController, AsksBeforeReplacingAnotherCopysRegistration) {
    Window window;
    window.placeForeignManifest();
    const std::string foreign = window.manifest();

    window.view.answers = {false};
    window.controller.installIntegration();
    EXPECT_EQ(window.view.events, (Events{question(en.replaceQuestion)}));
    EXPECT_EQ(window.manifest(), foreign);

    window.view.events.clear();
    window.view.answers = {true};
    window.controller.installIntegration();
    EXPECT_EQ(window.view.events, (Events{question(en.replaceQuestion), "alert: " + en.installDone,
                                          "status: " + en.registered}));
    EXPECT_EQ(window.manifest(), window.integration.expected().encode());
    std::size_t backups = 0;
    for (const auto& entry : fs::directory_iterator(window.integration.hostDirectory())) {
        backups += entry.path().extension() == ".bak" && testing::readFile(entry.path()) == foreign;
    }
    EXPECT_EQ(backups, 1u);
}

TEST(SetupController, ReinstallsItsOwnRegistrationSilently) {
    Window window;
    window.integration.registerHost(false);
    const fs::file_time_type past = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(window.integration.manifestPath(), past);
    window.controller.installIntegration();
    EXPECT_EQ(window.view.events, (Events{"alert: " + en.installDone, "status: " + en.registered}));
    EXPECT_EQ(fs::last_write_time(window.integration.manifestPath()), past);
}

TEST(SetupController, InstallsNothingWhenTheHelperFailsItsTest) {
    Window window;
    window.sandbox.setStatus("self-test", 1);
    window.controller.installIntegration();
    EXPECT_EQ(window.view.events,
              (Events{"alert: " + std::string(SetupFailure::description(Kind::invalidReply)),
                      "status: " + en.notRegistered}));
    EXPECT_FALSE(window.integration.manifestItemExists());
}

TEST(SetupController, RemovesOnlyAfterConfirmationAndOnlyItsOwn) {
    const SetupTexts& ko = SetupTexts::korean();
    Window window(true);
    window.integration.registerHost(false);

    window.view.answers = {false};
    window.controller.removeIntegration();
    EXPECT_EQ(window.view.events, (Events{question(ko.removeQuestion, ko)}));
    EXPECT_TRUE(window.integration.isRegistered());

    window.view.events.clear();
    window.view.answers = {true};
    window.controller.removeIntegration();
    EXPECT_EQ(window.view.events,
              (Events{question(ko.removeQuestion, ko), "status: " + ko.notRegistered}));
    EXPECT_FALSE(window.integration.manifestItemExists());

    window.placeForeignManifest();
    window.view.events.clear();
    window.view.answers = {true};
    window.controller.removeIntegration();
    EXPECT_EQ(window.view.events,
              (Events{question(ko.removeQuestion, ko),
                      "alert: " + std::string(SetupFailure::description(Kind::foreignRegistration)),
                      "status: " + ko.notRegistered}));
    EXPECT_TRUE(window.integration.manifestItemExists());
}

TEST(SetupController, NamesAnUnreadableRegistrationAndHowToReplaceIt) {
    Window window;
    fs::create_directories(window.integration.hostDirectory());
    testing::writeFile(window.integration.manifestPath(), "{\"name\": tech.ostrell");
    const std::string unreadable = "The registration file " + window.integration.manifestPath() +
                                   " is not a host manifest this program can read; Install / "
                                   "Repair integration backs it up and replaces it.";
    window.controller.refresh();
    window.view.answers = {true};
    window.controller.removeIntegration();
    EXPECT_EQ(window.view.events, (Events{"status: " + unreadable, question(en.removeQuestion),
                                          "alert: " + unreadable, "status: " + unreadable}));
}

TEST(SetupController, ShowsTheTestResultInEnglishInAKoreanWindow) {
    Window window(true);
    window.controller.testConnection();
    EXPECT_EQ(window.view.events,
              (Events{"alert: Helper 0.1.0: cache, drag pasteboard and Native Messaging HELLO "
                      "passed.",
                      "status: " + ko.notRegistered}));
}

TEST(SetupController, OpensTheWebsiteAndNothingElse) {
    Window window;
    window.controller.openWebsite();
    EXPECT_EQ(window.view.events, (Events{"open: " + std::string(productWebsite)}));
}

// The controller over several browsers: one status line each, a replace question per foreign
// registration naming its browser, one removal question for all.

struct BrowsersWindow {
    SetupSandbox sandbox;
    ScriptedView view;

    explicit BrowsersWindow(const std::vector<std::string>& ids) {
        sandbox.installFakeHelper();
        sandbox.answerCorrectly();
        // Each browser has run once: its user-data folder holds "Local State".
        for (const std::string& id : ids) {
            fs::create_directories(integration(id).userDataDirectory());
            testing::writeFile(fs::path(integration(id).userDataDirectory()) / "Local State", "{}");
        }
    }
    Integration integration(const std::string& id) const {
        return Integration(sandbox.bundle().string(), sandbox.home().string(), std::nullopt,
                           *Browsers::find(id));
    }
    SetupController controller(bool korean = false) {
        return SetupController(
            Integration::forInstalledBrowsers(sandbox.bundle().string(), sandbox.home().string()),
            korean, view);
    }
    void placeForeignManifest(const std::string& id) const {
        (void)testing::placeForeignManifest(integration(id));
    }
};

std::string replaceQuestion(const std::string& browser) {
    return ScriptedView::asked("Replace the existing " + browser +
                                   " registration? A backup will be saved; the previous app will "
                                   "be kept.",
                               en);
}

TEST(SetupControllerBrowsers, ListsEachBrowserInBothLanguages) {
    BrowsersWindow window({"chrome", "brave", "edge"});
    window.integration("brave").registerHost(false);
    window.controller().refresh();
    window.controller(true).refresh();
    EXPECT_EQ(window.view.events, (Events{"status: Chrome: not registered to this app yet.\n"
                                          "Brave: integration installed for this Mac user.\n"
                                          "Microsoft Edge: not registered to this app yet.",
                                          "status: Chrome: 이 앱에 아직 등록되지 않았습니다.\n"
                                          "Brave: 현재 Mac 사용자용 연결이 설치되어 있습니다.\n"
                                          "Microsoft Edge: 이 앱에 아직 등록되지 않았습니다."}));
}

TEST(SetupControllerBrowsers, ChromeAloneReadsAsBefore) {
    BrowsersWindow window({"chrome"});
    window.controller().refresh();
    EXPECT_EQ(window.view.events, (Events{"status: " + en.notRegistered}));
}

TEST(SetupControllerBrowsers, AsksAboutEachForeignRegistrationByName) {
    BrowsersWindow window({"chrome", "chromium", "vivaldi"});
    window.placeForeignManifest("chromium");
    window.placeForeignManifest("vivaldi");
    const std::string vivaldiBefore =
        testing::readFile(window.integration("vivaldi").manifestPath());
    SetupController controller = window.controller();

    window.view.answers = {true, false};
    controller.installIntegration();
    EXPECT_EQ(window.view.events,
              (Events{replaceQuestion("Chromium"), replaceQuestion("Vivaldi"),
                      "alert: " + en.installEveryDone,
                      "status: Chrome: integration installed for this Mac user.\n"
                      "Chromium: integration installed for this Mac user.\n"
                      "Vivaldi: not registered to this app yet."}));
    EXPECT_EQ(testing::readFile(window.integration("vivaldi").manifestPath()), vivaldiBefore);

    // Declining the one question left still repairs the others, as a registered browser alone
    // would be; declining when nothing else is to be done shows nothing at all.
    window.view.events.clear();
    window.view.answers = {false};
    controller.installIntegration();
    EXPECT_EQ(window.view.events.size(), 3u);
    EXPECT_EQ(window.view.events[1], "alert: " + en.installEveryDone);

    BrowsersWindow onlyForeign({"vivaldi"});
    onlyForeign.placeForeignManifest("vivaldi");
    onlyForeign.view.answers = {false};
    onlyForeign.controller().installIntegration();
    EXPECT_EQ(onlyForeign.view.events, (Events{replaceQuestion("Vivaldi")}));
}

TEST(SetupControllerBrowsers, NamesTheBrowserThatCouldNotBeInstalled) {
    BrowsersWindow window({"chrome", "edge"});
    // Edge's profile moved and linked back: its registration must not be written through it.
    const Integration edge = window.integration("edge");
    const fs::path moved = window.sandbox.home() / "moved-edge";
    fs::rename(edge.userDataDirectory(), moved);
    fs::create_symlink(moved, edge.userDataDirectory());
    SetupController controller = window.controller();
    controller.installIntegration();
    const std::string link = std::string(SetupFailure::description(Kind::symbolicLink)) + "\n" +
                             edge.userDataDirectory() + " is a symbolic link to " + moved.string() +
                             ". To register anyway, name the real folder on the command line: "
                             "quenra-bridge-setup --register --browser edge "
                             "--chrome-user-data-dir " +
                             moved.string();
    EXPECT_EQ(window.view.events,
              (Events{"alert: Microsoft Edge: " + link,
                      "status: Chrome: integration installed for this Mac user.\n"
                      "Microsoft Edge: " +
                          link}));
    EXPECT_TRUE(window.integration("chrome").isRegistered());
}

TEST(SetupControllerBrowsers, RemovesFromEveryBrowserAfterOneQuestion) {
    BrowsersWindow window({"chrome", "brave", "edge"});
    window.integration("chrome").registerHost(false);
    window.integration("brave").registerHost(false);
    window.placeForeignManifest("edge");
    SetupController controller = window.controller(true);

    window.view.answers = {false};
    controller.removeIntegration();
    EXPECT_EQ(window.view.events, (Events{ScriptedView::asked(ko.removeEveryQuestion, ko)}));
    EXPECT_TRUE(window.integration("brave").isRegistered());

    window.view.events.clear();
    window.view.answers = {true};
    controller.removeIntegration();
    EXPECT_EQ(window.view.events,
              (Events{ScriptedView::asked(ko.removeEveryQuestion, ko),
                      "alert: Microsoft Edge: " +
                          std::string(SetupFailure::description(Kind::foreignRegistration)),
                      "status: Chrome: 이 앱에 아직 등록되지 않았습니다.\n"
                      "Brave: 이 앱에 아직 등록되지 않았습니다.\n"
                      "Microsoft Edge: 이 앱에 아직 등록되지 않았습니다."}));
    EXPECT_FALSE(window.integration("chrome").manifestItemExists());
    EXPECT_FALSE(window.integration("brave").manifestItemExists());
    EXPECT_TRUE(window.integration("edge").manifestItemExists());
}

}  // namespace
}  // namespace quenra
