// Locations on the Linux stand-in, following the XDG rules where Linux has them.
#include "platform/system_locations.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace quenra {
namespace {

std::optional<std::string> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::string> passwdHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    struct passwd entry {};
    struct passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (result == nullptr || result->pw_dir == nullptr || result->pw_dir[0] != '/') {
        return std::nullopt;
    }
    return std::string(result->pw_dir);
}

// "ko_KR.UTF-8" -> "ko-KR"; "C" and "POSIX" name no language.
std::optional<std::string> languageTag(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") {
        return std::nullopt;
    }
    std::string tag(locale);
    for (char& character : tag) {
        if (character == '_') {
            character = '-';
        }
    }
    return tag;
}

// The value of XDG_MUSIC_DIR in a user-dirs.dirs text (shell assignments of double-quoted
// values, with backslash escapes): an absolute path, or "$HOME" followed by one. Nothing when
// the line is missing or names anything else.
std::optional<std::string> musicDirectoryIn(std::string_view text, const std::string& home) {
    std::optional<std::string> found;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        constexpr std::string_view key = "XDG_MUSIC_DIR=\"";
        if (!line.starts_with(key)) {
            continue;
        }
        line.remove_prefix(key.size());
        std::string value;
        bool closed = false;
        for (std::size_t index = 0; index < line.size(); ++index) {
            if (line[index] == '\\' && index + 1 < line.size()) {
                value.push_back(line[++index]);
            } else if (line[index] == '"') {
                closed = true;
                break;
            } else {
                value.push_back(line[index]);
            }
        }
        if (!closed) {
            found.reset();
            continue;
        }
        if (value.starts_with("$HOME/") || value == "$HOME") {
            found = home + value.substr(5);
        } else if (value.starts_with("/")) {
            found = value;
        } else {
            found.reset();
        }
    }
    return found;
}

}  // namespace

std::optional<std::string> SystemLocations::userMusicDirectory() {
    const auto home = homeDirectory();
    if (!home) {
        return std::nullopt;
    }
    const auto config = absoluteVariable("XDG_CONFIG_HOME").value_or(*home + "/.config");
    // A settings file of a few lines; what is past 64 KiB is not read.
    std::string text(65536, '\0');
    std::size_t length = 0;
    const int file =
        ::open((config + "/user-dirs.dirs").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (file >= 0) {
        ssize_t count = 0;
        while (length < text.size() &&
               ((count = ::read(file, text.data() + length, text.size() - length)) > 0 ||
                (count < 0 && errno == EINTR))) {
            length += count > 0 ? static_cast<std::size_t>(count) : 0;
        }
        ::close(file);
    }
    text.resize(length);
    if (auto music = musicDirectoryIn(text, *home)) {
        return music;
    }
    return *home + "/Music";
}

std::optional<std::string> SystemLocations::homeDirectory() {
    if (auto home = absoluteVariable("HOME")) {
        return home;
    }
    return passwdHome();
}

std::optional<std::string> SystemLocations::userCachesDirectory() {
    if (auto caches = absoluteVariable("XDG_CACHE_HOME")) {
        return caches;
    }
    if (auto home = homeDirectory()) {
        return *home + "/.cache";
    }
    return std::nullopt;
}

std::optional<std::string> SystemLocations::executablePath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || path.empty()) {
        return std::nullopt;
    }
    return path.string();
}

std::optional<std::string> SystemLocations::mainBundlePath() {
    const auto executable = executablePath();
    if (!executable) {
        return std::nullopt;
    }
    const std::filesystem::path folder = std::filesystem::path(*executable).parent_path();
    const std::filesystem::path contents = folder.parent_path();
    const std::filesystem::path bundle = contents.parent_path();
    if (folder.filename() == "MacOS" && contents.filename() == "Contents" &&
        bundle.extension() == ".app") {
        return bundle.string();
    }
    return folder.string();
}

std::vector<std::string> SystemLocations::preferredLanguages() {
    std::vector<std::string> languages;
    // LANGUAGE is a colon-separated priority list; the LC_* and LANG variables name one locale,
    // and the first one set wins, as setlocale reads them.
    if (const char* list = std::getenv("LANGUAGE"); list != nullptr && list[0] != '\0') {
        std::string_view rest(list);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            if (auto tag = languageTag(rest.substr(0, colon))) {
                languages.push_back(*tag);
            }
            rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            if (auto tag = languageTag(value)) {
                languages.push_back(*tag);
            }
            break;
        }
    }
    return languages;
}

}  // namespace quenra
