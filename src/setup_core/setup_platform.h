// The few facts of the setup program that differ by platform: which desktop system this is (it
// picks the browsers' user-data folders from the browser table), the system-wide applications
// folder, fresh random UUIDs and close-on-exec pipes.
// Declared here and defined by the platform layer.
#pragma once

#include <string>

namespace quenra::SetupPlatform {

enum class DesktopSystem { macOS, Linux };

// The system this build runs on: macOS for the product, Linux for the stand-in.
DesktopSystem desktopSystem();

// The system's applications folder, the first allowed install root ("/Applications").
std::string systemApplicationsDirectory();

// A freshly generated random (version 4) UUID as 36 upper-case, hyphenated characters.
std::string randomUUID();

// A pipe whose two ends are close-on-exec, so no program started later inherits them. Where the
// system has no pipe2 (macOS) the ends are marked just after the pipe is made: a caller that
// starts programs from several threads keeps them from starting in between. Returns false with
// errno set on failure.
bool openPipe(int ends[2]);

}  // namespace quenra::SetupPlatform
