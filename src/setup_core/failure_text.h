// The words the user reads when a setup operation fails: SetupFailure in its own messages, and
// every error of the system or of the JSON reader as a sentence of this program that names the
// file and says why, never as a library's text.
#pragma once

#include <string>

#include "setup_core/integration.h"

namespace quenra::FailureText {

// What the user asked for when the failure came; it picks the verb for the manifest.
enum class Operation { testing, checking, registering, unregistering };

// Who reads the words: the command line names its options, the window its button.
enum class Reader { commandLine, window };

// The failure being handled, in the user's words: one line, or two when a second one says how to
// get past it (a refused symbolic link, an unreadable manifest). No final line feed.
// Call only inside a catch handler. A failure of any other type than the setup program's and the
// system's (a bug) is thrown on unchanged.
std::string ofCurrentFailure(const Integration& integration, Operation operation, Reader reader);

}  // namespace quenra::FailureText
