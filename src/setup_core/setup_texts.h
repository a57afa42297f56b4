// The setup window's words in English and Korean, and which of the two the user reads.
#pragma once

#include <string>
#include <vector>

namespace quenra {

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

}  // namespace quenra
