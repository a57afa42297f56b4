// The facts of the setup program that differ by platform: which desktop system this is (it picks
// the browsers' user-data folders from the browser table) and the system-wide applications folder.
#pragma once

#include <string>

namespace quenra::SetupPlatform {

enum class DesktopSystem { macOS, Linux };

// The system this build runs on: macOS for the product, Linux for the stand-in.
DesktopSystem desktopSystem();

// The system's applications folder, the first allowed install root ("/Applications").
std::string systemApplicationsDirectory();

}  // namespace quenra::SetupPlatform
