#include "setup_core/setup_controller.h"

#include <exception>

#include "bridge_core/identity.h"

namespace quenra {

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
    };
    return texts;
}

bool prefersKorean(const std::vector<std::string>& preferredLanguages) {
    return !preferredLanguages.empty() && preferredLanguages.front().starts_with("ko");
}

SetupController::SetupController(Integration integration, bool korean, SetupView& view)
    : integration_(std::move(integration)),
      texts_(korean ? &SetupTexts::korean() : &SetupTexts::english()),
      view_(view) {}

// Every failure below is shown to the user with its own text (SetupFailure in English, the
// system's errors as the system words them); the window stays usable.

void SetupController::refresh() {
    try {
        integration_.validateLocation();
        view_.setStatus(integration_.isRegistered() ? texts_->registered : texts_->notRegistered);
    } catch (const std::exception& failure) {
        view_.setStatus(failure.what());
    }
}

bool SetupController::confirm(const std::string& question) {
    return view_.askQuestion(question, texts_->continueButton, texts_->cancelButton);
}

void SetupController::installIntegration() {
    try {
        integration_.testConnection();
        bool replace = false;
        if (integration_.manifestItemExists()) {
            bool registered = false;
            try {
                registered = integration_.isRegistered();
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
        integration_.registerHost(replace);
        view_.showAlert(texts_->installDone);
    } catch (const std::exception& failure) {
        view_.showAlert(failure.what());
    }
    refresh();
}

void SetupController::testConnection() {
    try {
        view_.showAlert(integration_.testConnection());
    } catch (const std::exception& failure) {
        view_.showAlert(failure.what());
    }
    refresh();
}

void SetupController::removeIntegration() {
    if (!confirm(texts_->removeQuestion)) {
        return;
    }
    try {
        integration_.unregister();
    } catch (const std::exception& failure) {
        view_.showAlert(failure.what());
    }
    refresh();
}

void SetupController::openWebsite() {
    view_.openAddress(std::string(productWebsite));
}

}  // namespace quenra
