#include "setup_core/setup_texts.h"

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

}  // namespace quenra
