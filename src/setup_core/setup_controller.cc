#include "setup_core/setup_controller.h"

#include <exception>

#include "setup_core/failure_text.h"

namespace quenra {
namespace {

using FailureText::Operation;

// Inside a catch handler: the failure in the words of the window.
std::string failureText(const Integration& integration, Operation operation) {
    return FailureText::ofCurrentFailure(integration, operation, FailureText::Reader::window);
}

}  // namespace

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
// system's errors as sentences that name the file); the window stays usable. One browser or
// several go through the same steps; only the words differ, chosen by wording().

const SetupController::Wording& SetupController::wording() const {
    static const Wording one{&SetupTexts::registered,      &SetupTexts::notRegistered,
                             &SetupTexts::replaceQuestion, &SetupTexts::installDone,
                             &SetupTexts::removeQuestion,  false};
    static const Wording every{
        &SetupTexts::browserRegistered,      &SetupTexts::browserNotRegistered,
        &SetupTexts::browserReplaceQuestion, &SetupTexts::installEveryDone,
        &SetupTexts::removeEveryQuestion,    true};
    return everyBrowser_ ? every : one;
}

std::string SetupController::failureLine(const Integration& integration,
                                         Operation operation) const {
    const std::string text = failureText(integration, operation);
    return wording().namesBrowser ? integration.browser().displayName + ": " + text : text;
}

void SetupController::refresh() {
    // Every browser runs the same helper: one place to check it.
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
            const auto text =
                integration.isRegistered() ? wording().registered : wording().notRegistered;
            line = named(texts_->*text, integration);
        } catch (const std::exception&) {
            line = failureLine(integration, Operation::checking);
        }
        status += (status.empty() ? "" : "\n") + line;
    }
    view_.setStatus(status);
}

bool SetupController::confirm(const std::string& question) {
    return view_.askQuestion(question, texts_->continueButton, texts_->cancelButton);
}

std::vector<std::pair<const Integration*, bool>> SetupController::chooseReplacements() {
    // Every question is asked before anything is written; a browser whose replacement is
    // declined is left as it is while the others are installed.
    std::vector<std::pair<const Integration*, bool>> chosen;
    for (const Integration& integration : integrations_) {
        bool registered = false;
        if (integration.manifestItemExists()) {
            try {
                registered = integration.isRegistered();
            } catch (const std::exception&) {
                // Unreadable or behind a link: asking first is right either way, and
                // registerHost reports what really stands in the way.
            }
            if (!registered) {
                if (confirm(named(texts_->*wording().replaceQuestion, integration))) {
                    chosen.emplace_back(&integration, true);
                }
                continue;
            }
        }
        chosen.emplace_back(&integration, false);
    }
    return chosen;
}

void SetupController::installIntegration() {
    // Tested once: every browser starts the same helper.
    try {
        integrations_.front().testConnection();
    } catch (const std::exception&) {
        view_.showAlert(failureText(integrations_.front(), Operation::testing));
        refresh();
        return;
    }
    const std::vector<std::pair<const Integration*, bool>> chosen = chooseReplacements();
    if (chosen.empty()) {
        return;
    }
    std::string failures;
    for (const auto& [integration, replace] : chosen) {
        try {
            integration->registerHost(replace);
        } catch (const std::exception&) {
            failures +=
                (failures.empty() ? "" : "\n") + failureLine(*integration, Operation::registering);
        }
    }
    view_.showAlert(failures.empty() ? texts_->*wording().installDone : failures);
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
    if (!confirm(texts_->*wording().removeQuestion)) {
        return;
    }
    std::string failures;
    for (const Integration& integration : integrations_) {
        try {
            integration.unregister();
        } catch (const std::exception&) {
            failures +=
                (failures.empty() ? "" : "\n") + failureLine(integration, Operation::unregistering);
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
