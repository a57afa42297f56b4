#include "setup_core/setup_controller.h"

#include <exception>

#include "bridge_core/identity.h"
#include "setup_core/failure_text.h"

namespace quenra {
namespace {

using FailureText::Operation;

// Inside a catch handler: the failure in the words of the window.
std::string failureText(const Integration& integration, Operation operation) {
    return FailureText::ofCurrentFailure(integration, operation, FailureText::Reader::window);
}

}  // namespace

const SetupTexts& SetupTexts::english() {
    static const SetupTexts texts{
        .title = "Quenra Bridge",
        .quit = "Quit Quenra Bridge",
        .description =
            "Connect the Chrome extension to your DAW. Keep this app in Applications "
            "and install the integration once for your Mac account.",
        .versionLine =
            std::string(Identity::helperVersion) + " \u00b7 macOS 15+ \u00b7 Apple silicon",
        .installButton = "Install / Repair integration",
        .testButton = "Test helper connection",
        .removeButton = "Remove integration",
        .websiteButton = "Open Quenra",
        .registered = "Chrome integration is installed for this Mac user.",
        .notRegistered = "Chrome integration is not registered to this app yet.",
        .installDone =
            "Integration installed. Use Test connection in the Chrome extension to "
            "confirm the browser can start the helper.",
        .replaceQuestion =
            "Replace the existing Chrome registration? A backup will be saved; "
            "the previous app will be kept.",
        .removeQuestion =
            "Remove this app's Chrome integration? MIDI files and the app will be kept.",
        .continueButton = "Continue",
        .cancelButton = "Cancel",
        .browserRegistered = "{browser}: integration installed for this Mac user.",
        .browserNotRegistered = "{browser}: not registered to this app yet.",
        .browserReplaceQuestion =
            "Replace the existing {browser} registration? A backup will be saved; "
            "the previous app will be kept.",
        .installEveryDone =
            "Integration installed. Use Test connection in the extension in each browser to "
            "confirm it can start the helper.",
        .removeEveryQuestion =
            "Remove this app's integration from every browser listed? MIDI files and the app "
            "will be kept.",
    };
    return texts;
}

const SetupTexts& SetupTexts::korean() {
    static const SetupTexts texts{
        .title = "Quenra Bridge",
        .quit = "Quenra Bridge 종료",
        .description =
            "Chrome 확장 프로그램을 DAW에 연결합니다. 이 앱을 응용 프로그램 폴더에 "
            "보관하고 현재 Mac 사용자용 연결을 한 번 설치하세요.",
        .versionLine =
            std::string(Identity::helperVersion) + " \u00b7 macOS 15+ \u00b7 Apple silicon",
        .installButton = "연결 설치 / 복구",
        .testButton = "도우미 연결 테스트",
        .removeButton = "연결 제거",
        .websiteButton = "Quenra 열기",
        .registered = "현재 Mac 사용자의 Chrome 연결이 설치되어 있습니다.",
        .notRegistered = "이 앱에 Chrome 연결이 아직 등록되지 않았습니다.",
        .installDone =
            "연결을 설치했습니다. Chrome 확장 프로그램의 연결 테스트로 브라우저 "
            "통신을 확인하세요.",
        .replaceQuestion =
            "기존 Chrome 등록을 교체할까요? 등록 파일을 백업하고 기존 앱은 보존합니다.",
        .removeQuestion = "이 앱의 Chrome 연결을 제거할까요? MIDI 파일과 앱은 보존합니다.",
        .continueButton = "계속",
        .cancelButton = "취소",
        .browserRegistered = "{browser}: 현재 Mac 사용자용 연결이 설치되어 있습니다.",
        .browserNotRegistered = "{browser}: 이 앱에 아직 등록되지 않았습니다.",
        .browserReplaceQuestion =
            "기존 {browser} 등록을 교체할까요? 등록 파일을 백업하고 기존 앱은 보존합니다.",
        .installEveryDone =
            "연결을 설치했습니다. 각 브라우저의 확장 프로그램에서 연결 테스트로 브라우저 "
            "통신을 확인하세요.",
        .removeEveryQuestion =
            "표시된 모든 브라우저에서 이 앱의 연결을 제거할까요? MIDI 파일과 앱은 보존합니다.",
    };
    return texts;
}

bool prefersKorean(const std::vector<std::string>& preferredLanguages) {
    return !preferredLanguages.empty() && preferredLanguages.front().starts_with("ko");
}

SetupController::SetupController(Integration integration, bool korean, SetupView& view)
    : SetupController(std::vector<Integration>{std::move(integration)}, korean, view) {}

SetupController::SetupController(std::vector<Integration> integrations, bool korean,
                                 SetupView& view)
    : integrations_(std::move(integrations)),
      everyBrowser_(integrations_.size() != 1 || integrations_.front().browser().id != "chrome"),
      texts_(korean ? &SetupTexts::korean() : &SetupTexts::english()),
      view_(view) {}

std::string SetupController::named(const std::string& text, const Integration& integration) const {
    static constexpr std::string_view placeholder = "{browser}";
    std::string result = text;
    const std::size_t at = result.find(placeholder);
    if (at != std::string::npos) {
        result.replace(at, placeholder.size(), integration.browser().displayName);
    }
    return result;
}

// Every failure below is shown to the user in English (SetupFailure in its own words, the
// system's errors as sentences that name the file); the window stays usable.

void SetupController::refresh() {
    if (everyBrowser_) {
        refreshEvery();
        return;
    }
    const Integration& integration = integrations_.front();
    try {
        integration.validateLocation();
        view_.setStatus(integration.isRegistered() ? texts_->registered : texts_->notRegistered);
    } catch (const std::exception&) {
        view_.setStatus(failureText(integration, Operation::checking));
    }
}

bool SetupController::confirm(const std::string& question) {
    return view_.askQuestion(question, texts_->continueButton, texts_->cancelButton);
}

void SetupController::installIntegration() {
    if (everyBrowser_) {
        installEvery();
        return;
    }
    const Integration& integration = integrations_.front();
    Operation operation = Operation::testing;
    try {
        integration.testConnection();
        operation = Operation::registering;
        bool replace = false;
        if (integration.manifestItemExists()) {
            bool registered = false;
            try {
                registered = integration.isRegistered();
            } catch (const std::exception&) {
                // Unreadable or behind a link: asking first is right either way, and
                // registerHost reports what really stands in the way.
            }
            if (!registered) {
                if (!confirm(texts_->replaceQuestion)) {
                    return;
                }
                replace = true;
            }
        }
        integration.registerHost(replace);
        view_.showAlert(texts_->installDone);
    } catch (const std::exception&) {
        view_.showAlert(failureText(integration, operation));
    }
    refresh();
}

void SetupController::testConnection() {
    try {
        // Every browser starts the same helper.
        view_.showAlert(integrations_.front().testConnection());
    } catch (const std::exception&) {
        view_.showAlert(failureText(integrations_.front(), Operation::testing));
    }
    refresh();
}

void SetupController::removeIntegration() {
    if (everyBrowser_) {
        removeEvery();
        return;
    }
    if (!confirm(texts_->removeQuestion)) {
        return;
    }
    try {
        integrations_.front().unregister();
    } catch (const std::exception&) {
        view_.showAlert(failureText(integrations_.front(), Operation::unregistering));
    }
    refresh();
}

void SetupController::refreshEvery() {
    try {
        integrations_.front().validateLocation();
    } catch (const std::exception&) {
        view_.setStatus(failureText(integrations_.front(), Operation::checking));
        return;
    }
    std::string status;
    for (const Integration& integration : integrations_) {
        std::string line;
        try {
            line = named(integration.isRegistered() ? texts_->browserRegistered
                                                    : texts_->browserNotRegistered,
                         integration);
        } catch (const std::exception&) {
            line = integration.browser().displayName + ": " +
                   failureText(integration, Operation::checking);
        }
        status += (status.empty() ? "" : "\n") + line;
    }
    view_.setStatus(status);
}

void SetupController::installEvery() {
    try {
        integrations_.front().testConnection();
    } catch (const std::exception&) {
        view_.showAlert(failureText(integrations_.front(), Operation::testing));
        refresh();
        return;
    }
    // Every question is asked before anything is written; a browser whose replacement is
    // declined is left as it is while the others are installed.
    std::vector<std::pair<const Integration*, bool>> chosen;  // integration, replace
    for (const Integration& integration : integrations_) {
        bool registered = false;
        if (integration.manifestItemExists()) {
            try {
                registered = integration.isRegistered();
            } catch (const std::exception&) {
                // As with one browser: ask, and let registerHost report what stands in the way.
            }
            if (!registered) {
                if (confirm(named(texts_->browserReplaceQuestion, integration))) {
                    chosen.emplace_back(&integration, true);
                }
                continue;
            }
        }
        chosen.emplace_back(&integration, false);
    }
    if (chosen.empty()) {
        return;
    }
    std::string failures;
    for (const auto& [integration, replace] : chosen) {
        try {
            integration->registerHost(replace);
        } catch (const std::exception&) {
            failures += (failures.empty() ? "" : "\n") + integration->browser().displayName + ": " +
                        failureText(*integration, Operation::registering);
        }
    }
    view_.showAlert(failures.empty() ? texts_->installEveryDone : failures);
    refresh();
}

void SetupController::removeEvery() {
    if (!confirm(texts_->removeEveryQuestion)) {
        return;
    }
    std::string failures;
    for (const Integration& integration : integrations_) {
        try {
            integration.unregister();
        } catch (const std::exception&) {
            failures += (failures.empty() ? "" : "\n") + integration.browser().displayName + ": " +
                        failureText(integration, Operation::unregistering);
        }
    }
    if (!failures.empty()) {
        view_.showAlert(failures);
    }
    refresh();
}

void SetupController::openWebsite() {
    view_.openAddress(std::string(productWebsite));
}

}  // namespace quenra
