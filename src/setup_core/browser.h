// The Chromium-family browsers the setup program registers with: each one reads native messaging
// host manifests only from "NativeMessagingHosts" in its own user-data directory, so one
// registration per browser is needed even though the extension ID is the same everywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/setup_platform.h"

namespace quenra {

// One browser as it ships on one desktop system.
struct Browser {
    std::string id;                    // the command line's name for it ("chrome", "brave")
    std::string displayName;           // what the user calls it ("Chrome", "Microsoft Edge")
    std::string userDataRelativePath;  // below the home directory, no leading slash

    bool operator==(const Browser&) const = default;
};

namespace Browsers {

// The value of --browser that means every browser that has run for this user.
inline constexpr std::string_view all = "all";

// The browsers of the table that ship on system, in table order (Chrome first).
std::vector<Browser> on(SetupPlatform::DesktopSystem system);
// The browsers of the system this program runs on.
std::vector<Browser> supported();
// A browser of this system by id; nothing for an unknown id or one that doesn't ship here.
std::optional<Browser> find(std::string_view id);
// A browser of the table that doesn't ship on this system (Arc or Opera GX on Linux), so that
// a refusal can say where it runs; nothing for an id of this system or an unknown one.
std::optional<Browser> findElsewhere(std::string_view id);
// "macOS" or "Linux".
std::string systemName(SetupPlatform::DesktopSystem system);
// The sentence for a browser of findElsewhere: where it runs, and the ids of this system.
std::string onlyElsewhere(const Browser& browser);
// Google Chrome's stable channel on this system: the browser when none is named.
Browser chrome();
// Every id of this system, then "all", joined by ", " (for messages).
std::string idList();

}  // namespace Browsers

}  // namespace quenra
