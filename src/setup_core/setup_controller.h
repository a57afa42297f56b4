// What the setup window does, apart from any toolkit: the status line, and the install, test,
// remove and web site flows with their confirmations, in the words of setup_texts.h.
// Each platform's window is a thin SetupView that forwards its four buttons here.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "setup_core/failure_text.h"
#include "setup_core/integration.h"
#include "setup_core/setup_texts.h"

namespace quenra {

inline constexpr std::string_view productWebsite = "https://quenra.ostrell.tech/";

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
    // The texts that tell a Chrome-only window from one over several browsers, and whether a
    // failure's line starts with the browser's name.
    struct Wording {
        std::string SetupTexts::*registered;
        std::string SetupTexts::*notRegistered;
        std::string SetupTexts::*replaceQuestion;
        std::string SetupTexts::*installDone;
        std::string SetupTexts::*removeQuestion;
        bool namesBrowser;
    };
    const Wording& wording() const;

    bool confirm(const std::string& question);
    std::string named(const std::string& text, const Integration& integration) const;
    std::string failureLine(const Integration& integration, FailureText::Operation operation) const;
    // Each integration to register, and whether to replace a registration found there.
    std::vector<std::pair<const Integration*, bool>> chooseReplacements();

    std::vector<Integration> integrations_;
    bool everyBrowser_;
    const SetupTexts* texts_;
    SetupView& view_;
};

}  // namespace quenra
