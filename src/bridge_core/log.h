// The single diagnostic line writer of both programs.
#pragma once

#include <string_view>

namespace quenra::Log {

// One line on standard error, "quenra-native-host: " + message + "\n", in one write(2).
// A line that cannot be written is lost; nothing is retried or reported.
void note(std::string_view message);

}  // namespace quenra::Log
