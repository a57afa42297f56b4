// Where the platform keeps the user's things: caches, home, the running bundle, and the
// languages the user prefers. Declared here, defined by the platform layer, which is the only
// code that reads the environment for them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quenra::SystemLocations {

// The user's caches directory (Linux: $XDG_CACHE_HOME when absolute, else $HOME/.cache when
// $HOME is absolute, else the passwd home + "/.cache"). Nothing when no home can be found.
std::optional<std::string> userCachesDirectory();

// The user's music folder, which holds the audio library (Linux: XDG_MUSIC_DIR of
// $XDG_CONFIG_HOME/user-dirs.dirs, else ~/.config/user-dirs.dirs, when it names an absolute
// path or one under $HOME, else home + "/Music"; macOS: ~/Music). Nothing when no home can be
// found.
std::optional<std::string> userMusicDirectory();

// The user's home directory ($HOME when absolute, else the passwd entry's home).
std::optional<std::string> homeDirectory();

// The bundle of the running program: ".../X.app" when the executable sits in
// ".../X.app/Contents/MacOS", else the executable's own folder. Nothing when unknown.
std::optional<std::string> mainBundlePath();

// The running executable's absolute path, links resolved. Nothing when unknown.
std::optional<std::string> executablePath();

// Preferred languages as BCP 47 tags, most preferred first ("ko-KR", "en").
std::vector<std::string> preferredLanguages();

}  // namespace quenra::SystemLocations
