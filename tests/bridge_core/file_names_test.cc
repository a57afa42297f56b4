#include "bridge_core/file_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

namespace quenra {
namespace {

struct NameCase {
    const char* what;
    std::string suggested;
    std::string expected;
};

void PrintTo(const NameCase& value, std::ostream* out) {
    *out << value.what;
}

std::string repeated(std::string_view piece, int count) {
    std::string text;
    for (int index = 0; index < count; ++index) {
        text += piece;
    }
    return text;
}

class SafeNameTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeNameTable, GivesTheExpectedName) {
    const NameCase& name = GetParam();
    EXPECT_EQ(FileNames::safeName(name.suggested), name.expected) << name.what;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, SafeNameTable,
    ::testing::Values(
        NameCase{"empty", "", "clip.mid"}, NameCase{"only slashes", "///", "clip.mid"},
        NameCase{"a path", "a/b/Song.MID", "Song.mid"},
        NameCase{"a trailing slash", "Folder/", "Folder.mid"},
        NameCase{"the long extension", "Song.midi", "Song.mid"},
        NameCase{"only one extension goes", "Song.mid.mid", "Song.mid.mid"},
        NameCase{"three dots", "...", "clip.mid"},
        NameCase{"hidden between spaces and dots", "  ..hidden  ", "hidden.mid"},
        NameCase{"a tab vanishes", "Tab\tName", "TabName.mid"},
        NameCase{"no-break spaces become one space", "Two\u00a0\u00a0Words", "Two Words.mid"},
        NameCase{"forbidden punctuation", "My Song: Verse?.mid", "My Song- Verse-.mid"},
        NameCase{"an emoji", "Beat \U0001F941", "Beat -.mid"},
        NameCase{"decomposed accents compose", "Cafe\u0301 Ho\u0308he.MIDI",
                 "Caf\u00e9 H\u00f6he.mid"},
        NameCase{"200 ASCII letters", repeated("a", 200), repeated("a", 120) + ".mid"},
        NameCase{"50 CJK characters", repeated("\u97f3", 50), repeated("\u97f3", 40) + ".mid"},
        NameCase{"a dot at the cut", repeated("b", 119) + "." + repeated("c", 10),
                 repeated("b", 119) + ".mid"},
        NameCase{"every allowed punctuation", "a-b_c.d,e(f)g[h]i#j+k'l!m&n@o=p~q",
                 "a-b_c.d,e(f)g[h]i#j+k'l!m&n@o=p~q.mid"},
        NameCase{"invisible format characters", "Zero\u200bWidth\u200e", "ZeroWidth.mid"},
        NameCase{"a line separator", "Line\u2028\u2029Break", "Line Break.mid"},
        NameCase{"a leading separator is trimmed", "\u3000Name", "Name.mid"},
        NameCase{"backslash and friends", "a\\b*c<d>e|f\"g", "a-b-c-d-e-f-g.mid"},
        NameCase{"the extension in mixed case with trailing dots", "Song.MiDi. .", "Song.mid"},
        NameCase{"a dot left by the extension", "Song..mid", "Song.mid"},
        NameCase{"invalid UTF-8 reads as a replacement", "Bad\xff\xfe", "Bad--.mid"},
        NameCase{"a NUL byte is a control", std::string("Nul\0Byte", 8), "NulByte.mid"}));

TEST(SafeName, NeverExceeds124BytesAndAlwaysEndsInMid) {
    for (const std::string& suggested :
         {repeated("\U0001F3B9", 100), repeated("e\u0301", 100), repeated("/.", 50),
          repeated(" ", 300), repeated("\u00e9", 200)}) {
        const std::string name = FileNames::safeName(suggested);
        EXPECT_LE(name.size(), 124u);
        EXPECT_TRUE(name.ends_with(".mid"));
        EXPECT_NE(name.front(), '.');
        EXPECT_NE(name.front(), ' ');
    }
}

TEST(Truncated, KeepsWholeGraphemeClustersOnly) {
    // "e" + combining acute is one character of 3 bytes; it is never split.
    const std::string accented = "e\u0301";
    EXPECT_EQ(FileNames::truncated(accented + accented, 5), accented);
    EXPECT_EQ(FileNames::truncated(accented + accented, 6), accented + accented);
    EXPECT_EQ(FileNames::truncated(accented, 2), "");
    // A family emoji joined by zero-width joiners is one character.
    const std::string family = "\U0001F468\u200d\U0001F469\u200d\U0001F467";
    EXPECT_EQ(FileNames::truncated("a" + family, family.size()), "a");
    EXPECT_EQ(FileNames::truncated("a" + family, family.size() + 1), "a" + family);
    EXPECT_EQ(FileNames::truncated("abc", 0), "");
    EXPECT_EQ(FileNames::truncated("", 10), "");
}

// ASCII text takes a shorter way than the rest; text with one character beyond ASCII takes the
// general one. Every ASCII character, between two letters, must come out as it does there.
TEST(SafeName, EveryASCIICharacterIsNamedAsTheGeneralRulesNameIt) {
    const std::string beyond = "\u00e9";
    for (int code = 0; code < 0x80; ++code) {
        const std::string suggested = std::string("a") + static_cast<char>(code) + "b";
        const std::string ascii = FileNames::safeName(suggested);
        const std::string general = FileNames::safeName(suggested + beyond);
        ASSERT_TRUE(ascii.ends_with(".mid"));
        EXPECT_EQ(ascii.substr(0, ascii.size() - 4) + beyond + ".mid", general)
            << "character " << code;
    }
}

TEST(Truncated, ASCIICutsWhereTheGeneralRulesCut) {
    // A CR before LF is one cluster; the other controls, and LF before CR, are not.
    const std::string text = "ab\r\ncd\n\re\r\r\nf g\t\x7f.";
    for (std::size_t maxBytes = 0; maxBytes <= text.size() + 1; ++maxBytes) {
        EXPECT_EQ(FileNames::truncated(text, maxBytes),
                  FileNames::truncated(text + "\u00e9", std::min(maxBytes, text.size())))
            << "at most " << maxBytes << " bytes";
    }
    EXPECT_EQ(FileNames::truncated("ab\r\n", 3), "ab");
    EXPECT_EQ(FileNames::truncated("ab\n\r", 3), "ab\n");
}

TEST(SafeName, CutsBeforeACharacterThatWouldNotFit) {
    // 119 letters and a 3-byte character: the character would end at byte 122.
    const std::string name = FileNames::safeName(repeated("x", 119) + "e\u0301z");
    EXPECT_EQ(name, repeated("x", 119) + ".mid");
}

}  // namespace
}  // namespace quenra
