// Stands in for the setup window: records what it would show, in order, and answers its
// questions from a script.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "setup_core/setup_controller.h"

namespace quenra::testing {

class ScriptedView : public SetupView {
  public:
    std::vector<std::string> events;
    std::deque<bool> answers;

    void setStatus(const std::string& text) override { events.push_back("status: " + text); }
    void showAlert(const std::string& text) override { events.push_back("alert: " + text); }
    bool askQuestion(const std::string& text, const std::string& continueLabel,
                     const std::string& cancelLabel) override {
        events.push_back(asked(text, continueLabel, cancelLabel));
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question";
            return false;
        }
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void openAddress(const std::string& address) override { events.push_back("open: " + address); }

    // The event a question leaves, with the labels of its two buttons.
    static std::string asked(const std::string& text, const std::string& continueLabel,
                             const std::string& cancelLabel) {
        return "question: " + text + " [" + continueLabel + "|" + cancelLabel + "]";
    }
    static std::string asked(const std::string& text, const SetupTexts& texts) {
        return asked(text, texts.continueButton, texts.cancelButton);
    }
};

}  // namespace quenra::testing
