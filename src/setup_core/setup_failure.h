// The setup program's user-facing error: what went wrong, in a sentence the user can act on.
#pragma once

#include <exception>

namespace quenra {

class SetupFailure : public std::exception {
  public:
    enum class Kind {
        unsafeLocation,
        missingHelper,
        conflict,
        foreignRegistration,
        symbolicLink,
        invalidReply,
        timeout,
    };

    explicit SetupFailure(Kind kind) : kind_(kind) {}

    Kind kind() const { return kind_; }
    // The message shown to the user, in English whatever the window language.
    static const char* description(Kind kind);
    const char* what() const noexcept override { return description(kind_); }

    bool operator==(const SetupFailure& other) const { return kind_ == other.kind_; }

  private:
    Kind kind_;
};

}  // namespace quenra
