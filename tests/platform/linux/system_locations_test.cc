#include "platform/system_locations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temporary_directory.h"

namespace quenra {
namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const std::map<std::string, const char*>& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            if (value != nullptr) {
                ::setenv(name.c_str(), value, 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(SystemLocations, CachesFollowTheXdgRule) {
    {
        ScopedEnvironment environment({{"XDG_CACHE_HOME", "/x/cache"}, {"HOME", "/h"}});
        EXPECT_EQ(SystemLocations::userCachesDirectory(), "/x/cache");
    }
    {
        ScopedEnvironment environment({{"XDG_CACHE_HOME", "relative"}, {"HOME", "/h"}});
        EXPECT_EQ(SystemLocations::userCachesDirectory(), "/h/.cache");
        EXPECT_EQ(SystemLocations::homeDirectory(), "/h");
    }
    {
        // A relative HOME is ignored in favour of the passwd entry, which is absolute.
        ScopedEnvironment environment({{"XDG_CACHE_HOME", nullptr}, {"HOME", "h"}});
        const auto home = SystemLocations::homeDirectory();
        ASSERT_TRUE(home.has_value());
        EXPECT_EQ(home->front(), '/');
        EXPECT_EQ(SystemLocations::userCachesDirectory(), *home + "/.cache");
    }
}

TEST(SystemLocations, MusicIsTheXdgMusicFolderElseMusicInTheHome) {
    const testing::TemporaryDirectory folder;
    const std::string home = folder.join("home");
    const std::string config = folder.join("config");
    std::filesystem::create_directories(config);
    struct Case {
        const char* what;
        const char* file;  // nothing: no user-dirs.dirs at all
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"no file", nullptr, home + "/Music"},
        {"under the home", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_MUSIC_DIR=\"$HOME/Musik\"\n",
         home + "/Musik"},
        {"absolute, escaped", "# comment\nXDG_MUSIC_DIR=\"/media/big \\\"disk\\\"/m\"\n",
         "/media/big \"disk\"/m"},
        {"relative", "XDG_MUSIC_DIR=\"Music here\"\n", home + "/Music"},
        {"unterminated", "XDG_MUSIC_DIR=\"/m\n", home + "/Music"},
        {"the last line wins", "XDG_MUSIC_DIR=\"/a\"\nXDG_MUSIC_DIR=\"/b\"\n", "/b"},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.what);
        std::filesystem::remove(config + "/user-dirs.dirs");
        if (item.file != nullptr) {
            testing::writeFileText(config + "/user-dirs.dirs", item.file);
        }
        ScopedEnvironment environment(
            {{"HOME", home.c_str()}, {"XDG_CONFIG_HOME", config.c_str()}});
        EXPECT_EQ(SystemLocations::userMusicDirectory(), item.expected);
    }
    // Without XDG_CONFIG_HOME the file is the one in the home's .config.
    std::filesystem::create_directories(home + "/.config");
    testing::writeFileText(home + "/.config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/M\"\n");
    ScopedEnvironment environment({{"HOME", home.c_str()}, {"XDG_CONFIG_HOME", nullptr}});
    EXPECT_EQ(SystemLocations::userMusicDirectory(), home + "/M");
}

TEST(SystemLocations, PreferredLanguagesReadTheLocaleVariablesInOrder) {
    struct Case {
        const char* language;
        const char* all;
        const char* messages;
        const char* lang;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, nullptr, "ko_KR.UTF-8", {"ko-KR"}},
        {nullptr, nullptr, nullptr, "C", {}},
        {nullptr, "POSIX", nullptr, "ko_KR.UTF-8", {}},
        {nullptr, nullptr, "en_US.UTF-8", "ko_KR.UTF-8", {"en-US"}},
        {"ko:en_GB", nullptr, nullptr, "C.UTF-8", {"ko", "en-GB"}},
        {"", nullptr, nullptr, "de_DE@euro", {"de-DE"}},
        {nullptr, nullptr, nullptr, nullptr, {}},
    };
    for (const Case& item : cases) {
        ScopedEnvironment environment({{"LANGUAGE", item.language},
                                       {"LC_ALL", item.all},
                                       {"LC_MESSAGES", item.messages},
                                       {"LANG", item.lang}});
        EXPECT_EQ(SystemLocations::preferredLanguages(), item.expected)
            << (item.lang ? item.lang : "-");
    }
}

TEST(SystemLocations, ABareToolIsItsOwnFolder) {
    const auto executable = SystemLocations::executablePath();
    ASSERT_TRUE(executable.has_value());
    const auto bundle = SystemLocations::mainBundlePath();
    ASSERT_TRUE(bundle.has_value());
    EXPECT_EQ(*bundle, executable->substr(0, executable->rfind('/')));
}

}  // namespace
}  // namespace quenra
