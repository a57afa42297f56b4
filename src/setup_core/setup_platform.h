// The few facts of the setup program that differ by platform: where Chrome keeps its user data
// by default, the system-wide applications folder, fresh random UUIDs and close-on-exec pipes.
// Declared here and defined by the platform layer.
#pragma once

#include <string>

namespace quenra::SetupPlatform {

// Chrome's default user-data directory relative to the home directory
// (macOS: "Library/Application Support/Google/Chrome"; Linux: ".config/google-chrome").
std::string chromeUserDataRelativePath();

// The system's applications folder, the first allowed install root ("/Applications").
std::string systemApplicationsDirectory();

// A freshly generated random (version 4) UUID as 36 upper-case, hyphenated characters.
std::string randomUUID();

// A pipe whose two ends are close-on-exec from the moment they exist, so no program started
// meanwhile inherits them. Returns false with errno set on failure.
bool openPipe(int ends[2]);

}  // namespace quenra::SetupPlatform
