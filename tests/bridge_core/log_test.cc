#include "bridge_core/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/captured_standard_error.h"

namespace quenra {
namespace {

std::string noted(const std::string& message) {
    testing::CapturedStandardError error;
    Log::note(message);
    return error.text();
}

TEST(Log, NoteWritesOnePrefixedLineOnStandardError) {
    EXPECT_EQ(noted("eof-mid-frame"), "quenra-native-host: eof-mid-frame\n");
}

// The line is at most maxLineBytes, its line feed included, and never ends inside a character.
TEST(Log, ALongMessageIsCutToTheLineLimitAtACharacterBoundary) {
    const std::string prefix = "quenra-native-host: ";
    const std::size_t room = Log::maxLineBytes - prefix.size() - 1;
    struct Case {
        const char* name;
        std::string message;
        std::string kept;
    };
    const std::string fits(room, 'a');
    const std::vector<Case> cases{
        {"exactly the room", fits, fits},
        {"one byte more", fits + "b", fits},
        {"far longer", std::string(4 * room, 'c'), std::string(room, 'c')},
        // "é" is two bytes: its second byte would be the first one past the room.
        {"a two-byte character across the end", std::string(room - 1, 'd') + "\xC3\xA9",
         std::string(room - 1, 'd')},
        // "€" is three bytes, of which two would fit.
        {"a three-byte character across the end", std::string(room - 2, 'e') + "\xE2\x82\xAC",
         std::string(room - 2, 'e')},
        {"a character that just fits", std::string(room - 2, 'f') + "\xC3\xA9",
         std::string(room - 2, 'f') + "\xC3\xA9"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(noted(test.message), prefix + test.kept + "\n");
    }
}

}  // namespace
}  // namespace quenra
