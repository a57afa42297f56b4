// What the setup window says and does, apart from any toolkit: its texts in English and Korean,
// the status line, and the install, test, remove and web site flows with their confirmations.
// Each platform's window is a thin SetupView that forwards its four buttons here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "setup_core/integration.h"

namespace quenra {

inline constexpr std::string_view productWebsite = "https://quenra.ostrell.tech/";

struct SetupTexts {
    std::string title;  // also the headline of every alert
    std::string quit;
    std::string description;
    std::string versionLine;
    std::string installButton;
    std::string testButton;
    std::string removeButton;
    std::string websiteButton;
    std::string registered;
    std::string notRegistered;
    std::string installDone;
    std::string replaceQuestion;
    std::string removeQuestion;
    std::string continueButton;
    std::string cancelButton;
    // For a window over several browsers; "{browser}" stands for the browser's display name.
    std::string browserRegistered;
    std::string browserNotRegistered;
    std::string browserReplaceQuestion;
    std::string installEveryDone;
    std::string removeEveryQuestion;

    static const SetupTexts& english();
    static const SetupTexts& korean();

    bool operator==(const SetupTexts&) const = default;
};

// Korean exactly when the first preferred language is Korean ("ko", "ko-KR"); "en-KR" or no
// preference at all reads as English.
bool prefersKorean(const std::vector<std::string>& preferredLanguages);

// The window as the controller sees it. Every call is modal where it must be: showAlert and
// askQuestion return only once the user has answered.
class SetupView {
  public:
    virtual ~SetupView() = default;
    virtual void setStatus(const std::string& text) = 0;
    // An alert headed by the window title, with text below and one default button.
    virtual void showAlert(const std::string& text) = 0;
    // True when the user chose the first button (continueLabel).
    virtual bool askQuestion(const std::string& text, const std::string& continueLabel,
                             const std::string& cancelLabel) = 0;
    virtual void openAddress(const std::string& address) = 0;
};

class SetupController {
  public:
    // A window over one Chrome registration, in the words of a Chrome-only window.
    SetupController(Integration integration, bool korean, SetupView& view);
    // A window over every browser given (at least one). Chrome alone reads as above; otherwise
    // the status lists each browser, install asks about each foreign registration by the
    // browser's name, and remove asks once for all of them.
    SetupController(std::vector<Integration> integrations, bool korean, SetupView& view);

    const SetupTexts& texts() const { return *texts_; }

    // Shows whether this copy is registered, or why that can't be told or done.
    void refresh();
    void installIntegration();
    void testConnection();
    void removeIntegration();
    void openWebsite();

  private:
    bool confirm(const std::string& question);
    std::string named(const std::string& text, const Integration& integration) const;
    void refreshEvery();
    void installEvery();
    void removeEvery();

    std::vector<Integration> integrations_;
    bool everyBrowser_;
    const SetupTexts* texts_;
    SetupView& view_;
};

}  // namespace quenra
