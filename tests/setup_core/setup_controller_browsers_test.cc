// The setup window's controller over several browsers: one status line each, a replace
// question per foreign registration naming its browser, one removal question for all.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "setup_core/setup_controller.h"
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

    explicit Window(const std::vector<std::string>& ids) {
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
        HostRegistration other = integration(id).expected();
        other.path = "/Applications/Other.app/Contents/MacOS/quenra-native-host";
        fs::create_directories(integration(id).hostDirectory());
        testing::writeFile(integration(id).manifestPath(), other.encode());
    }
};

const SetupTexts& en = SetupTexts::english();
const SetupTexts& ko = SetupTexts::korean();

std::string replaceQuestion(const std::string& browser) {
    return ScriptedView::asked("Replace the existing " + browser +
                                   " registration? A backup will be saved; the previous app will "
                                   "be kept.",
                               en);
}

TEST(SetupControllerBrowsers, ListsEachBrowserInBothLanguages) {
    Window window({"chrome", "brave", "edge"});
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
    Window window({"chrome"});
    window.controller().refresh();
    EXPECT_EQ(window.view.events, (Events{"status: " + en.notRegistered}));
}

TEST(SetupControllerBrowsers, AsksAboutEachForeignRegistrationByName) {
    Window window({"chrome", "chromium", "vivaldi"});
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

    Window onlyForeign({"vivaldi"});
    onlyForeign.placeForeignManifest("vivaldi");
    onlyForeign.view.answers = {false};
    onlyForeign.controller().installIntegration();
    EXPECT_EQ(onlyForeign.view.events, (Events{replaceQuestion("Vivaldi")}));
}

TEST(SetupControllerBrowsers, NamesTheBrowserThatCouldNotBeInstalled) {
    Window window({"chrome", "edge"});
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
    Window window({"chrome", "brave", "edge"});
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
