#include "bridge_core/json_writer.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <limits>

namespace quenra {
namespace {

TEST(JsonWriter, CompactSortsKeysByBytesAtEveryDepth) {
    const boost::json::value value = boost::json::parse(
        R"({"type":"X","b":{"id":"s","epoch":1},"B":[{"z":1,"a":2}],"_":true,"a":null})");
    EXPECT_EQ(JsonWriter::write(value),
              R"({"B":[{"a":2,"z":1}],"_":true,"a":null,"b":{"epoch":1,"id":"s"},"type":"X"})");
}

TEST(JsonWriter, StringsKeepSlashesAndUtf8RawAndEscapeControls) {
    struct Case {
        std::string input;
        JsonWriter::Style style;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a/b", {}, R"("a/b")"},
        {"a/b", {.escapeSlashes = true}, R"("a\/b")"},
        {"\xEC\x95\x88 \xF0\x9F\x8E\xB9", {}, "\"\xEC\x95\x88 \xF0\x9F\x8E\xB9\""},
        {"q\"b\\", {}, R"("q\"b\\")"},
        {std::string("\b\f\n\r\t\x01\x1f", 7), {}, R"("\b\f\n\r\t\u0001\u001f")"},
        {std::string("\0", 1), {}, R"("\u0000")"},
        {"\x7f", {}, "\"\x7f\""},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.input);
        EXPECT_EQ(JsonWriter::write(boost::json::value(item.input), item.style), item.expected);
    }
}

TEST(JsonWriter, NumbersKeepTheirKind) {
    EXPECT_EQ(JsonWriter::write(boost::json::value(std::int64_t{-9007199254740991})),
              "-9007199254740991");
    EXPECT_EQ(JsonWriter::write(boost::json::value(std::uint64_t{18446744073709551615u})),
              "18446744073709551615");
    EXPECT_EQ(JsonWriter::write(boost::json::value(1765000000.25)), "1765000000.25");
    EXPECT_EQ(JsonWriter::write(boost::json::value(false)), "false");
}

TEST(JsonWriter, NonFiniteNumbersCannotBeWritten) {
    for (double bad :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN()}) {
        boost::json::object object;
        object["nested"] = boost::json::array{1, bad};
        EXPECT_FALSE(JsonWriter::write(object).has_value());
    }
}

TEST(JsonWriter, PrettyUsesTwoSpacesAndSpacedColons) {
    const boost::json::value value = boost::json::parse(
        R"({"type":"stdio","allowed_origins":["chrome-extension://x/"],"e":{},"l":[]})");
    EXPECT_EQ(JsonWriter::write(value, {.pretty = true}),
              "{\n"
              "  \"allowed_origins\" : [\n"
              "    \"chrome-extension://x/\"\n"
              "  ],\n"
              "  \"e\" : {},\n"
              "  \"l\" : [],\n"
              "  \"type\" : \"stdio\"\n"
              "}");
}

TEST(JsonWriter, RoundTripsThroughTheReader) {
    const std::string text =
        R"({"a":[1,-2,3.5,"x\u0000y",{"k":"\u00e9"}],"b":{"c":{"d":[[]]}},"e":""})";
    const auto written = JsonWriter::write(boost::json::parse(text));
    ASSERT_TRUE(written.has_value());
    EXPECT_EQ(boost::json::parse(*written), boost::json::parse(text));
}

}  // namespace
}  // namespace quenra
