// The setup program's proof that this copy's helper works: its self-test, then one HELLO
// exchange exactly as Chrome would start it, each under a time limit. Integration::testConnection
// (defined with these) strings them together.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenra::ConnectionCheck {

inline constexpr std::chrono::milliseconds helperTimeLimit{10000};
// How long a helper that was asked to terminate may take before it is killed.
inline constexpr std::chrono::milliseconds terminationGrace{500};

// Starts program with arguments (program itself not repeated), feeds it input when given and
// closes its input, and returns everything it wrote to standard output; its standard error is
// discarded. Output is read while the helper runs, so a reply larger than a pipe holds cannot
// stall it. Throws the system's error when it can't be started or fed, SetupFailure timeout when
// it hasn't finished within timeLimit after its input was closed (it is then terminated, killed
// if need be, and reaped), and SetupFailure invalidReply when it exits other than with status 0.
std::string runHelper(const std::string& program, const std::vector<std::string>& arguments,
                      const std::optional<std::string>& input,
                      std::chrono::milliseconds timeLimit = helperTimeLimit);

// One complete HELLO request frame: 4-byte little-endian length, then the JSON body, with a
// fresh session id each time.
std::string connectionRequest();

// Throw SetupFailure invalidReply (or the JSON parser's error for text that isn't JSON) unless
// the output is a passing self-test report / exactly one valid HELLO_OK frame.
void checkSelfTest(std::string_view output);
void checkHelloReply(std::string_view output);

std::string successText();

}  // namespace quenra::ConnectionCheck
