#include "setup_core/browser.h"

#include <array>

namespace quenra {
namespace {

struct Row {
    std::string_view id;
    std::string_view displayName;
    std::string_view macOS;  // empty: the browser doesn't ship on that system
    std::string_view linux_;
};

// Each browser's default user-data directory: where its own documentation or source puts it.
// Brave on macOS keeps its own folder here even though some Brave builds have been seen reading
// Chrome's manifests instead; writing under Chrome's folder for Brave would change Chrome's
// registration without saying so. Chrome's folder is registered by the chrome row itself.
// Opera names its macOS folders after its bundle identifiers; Opera GX has no Linux build.
constexpr std::array<Row, 11> table = {{
    {"chrome", "Chrome", "Library/Application Support/Google/Chrome", ".config/google-chrome"},
    {"chrome-beta", "Chrome Beta", "Library/Application Support/Google/Chrome Beta",
     ".config/google-chrome-beta"},
    {"chrome-dev", "Chrome Dev", "Library/Application Support/Google/Chrome Dev",
     ".config/google-chrome-unstable"},
    {"chrome-canary", "Chrome Canary", "Library/Application Support/Google/Chrome Canary",
     ".config/google-chrome-canary"},
    {"chromium", "Chromium", "Library/Application Support/Chromium", ".config/chromium"},
    {"brave", "Brave", "Library/Application Support/BraveSoftware/Brave-Browser",
     ".config/BraveSoftware/Brave-Browser"},
    {"edge", "Microsoft Edge", "Library/Application Support/Microsoft Edge",
     ".config/microsoft-edge"},
    {"vivaldi", "Vivaldi", "Library/Application Support/Vivaldi", ".config/vivaldi"},
    {"arc", "Arc", "Library/Application Support/Arc/User Data", ""},
    {"opera", "Opera", "Library/Application Support/com.operasoftware.Opera", ".config/opera"},
    {"opera-gx", "Opera GX", "Library/Application Support/com.operasoftware.OperaGX", ""},
}};

SetupPlatform::DesktopSystem otherSystem() {
    return SetupPlatform::desktopSystem() == SetupPlatform::DesktopSystem::macOS
               ? SetupPlatform::DesktopSystem::Linux
               : SetupPlatform::DesktopSystem::macOS;
}

}  // namespace

std::vector<Browser> Browsers::on(SetupPlatform::DesktopSystem system) {
    std::vector<Browser> browsers;
    for (const Row& row : table) {
        const std::string_view path =
            system == SetupPlatform::DesktopSystem::macOS ? row.macOS : row.linux_;
        if (!path.empty()) {
            browsers.push_back(
                {std::string(row.id), std::string(row.displayName), std::string(path)});
        }
    }
    return browsers;
}

std::vector<Browser> Browsers::supported() {
    return on(SetupPlatform::desktopSystem());
}

std::optional<Browser> Browsers::find(std::string_view id) {
    for (Browser& browser : supported()) {
        if (browser.id == id) {
            return std::move(browser);
        }
    }
    return std::nullopt;
}

std::optional<Browser> Browsers::findElsewhere(std::string_view id) {
    if (find(id)) {
        return std::nullopt;
    }
    for (Browser& browser : on(otherSystem())) {
        if (browser.id == id) {
            return std::move(browser);
        }
    }
    return std::nullopt;
}

std::string Browsers::systemName(SetupPlatform::DesktopSystem system) {
    return system == SetupPlatform::DesktopSystem::macOS ? "macOS" : "Linux";
}

std::string Browsers::onlyElsewhere(const Browser& browser) {
    return browser.displayName + " is available only on " + systemName(otherSystem()) + "; on " +
           systemName(SetupPlatform::desktopSystem()) + ", --browser takes one of: " + idList();
}

Browser Browsers::chrome() {
    return *find("chrome");
}

std::string Browsers::idList() {
    std::string list;
    for (const Browser& browser : supported()) {
        list += browser.id + ", ";
    }
    return list + std::string(all);
}

}  // namespace quenra
