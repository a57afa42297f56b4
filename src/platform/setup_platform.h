// The facts of the setup program that differ by platform: which desktop system this is (it picks
// the browsers' user-data folders from the browser table) and the system-wide applications folder.
#pragma once

#include <string_view>

namespace quenra::SetupPlatform {

enum class DesktopSystem { macOS, Linux };

// The system this build runs on: macOS for the product, Linux for the stand-in.
DesktopSystem desktopSystem();

// The system's applications folder, the first allowed install root: macOS's, which the Linux
// stand-in keeps so that the install checks read the same on both.
inline constexpr std::string_view systemApplicationsDirectory = "/Applications";

}  // namespace quenra::SetupPlatform
