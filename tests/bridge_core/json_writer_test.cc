#include "bridge_core/json_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <boost/json/parse.hpp>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>

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

// Whatever way a finite double takes through the writer, its text is std::to_chars's: the
// shortest that reads back, fixed or scientific by length.
TEST(JsonWriter, RealsAreWrittenAsToCharsWritesThem) {
    const auto reference = [](double number) {
        char buffer[64];
        return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, number).ptr);
    };
    std::vector<double> numbers = {
        // Zero, thousandths and their neighbours below one, small whole numbers.
        0.0, -0.0, 0.001, 0.005, 0.01, 0.05, 0.1, 0.125, 0.999, 1.0, 1.5, 9.999, 10.0, 99.0,
        // Whole numbers where the scientific form ties with the fixed one or is shorter.
        1000.0, 10000.0, 12000.0, 100000.0, 120000.0, 1200000.0, 12000000.0, 1e6, 1e9,
        // Times, and the edges of the whole-thousandths range.
        1765000000.0, 1765180000.1, 1765180000.12, 1765180000.123, 1765180000.999, 4294967295.999,
        999999999999.999, 999999999999.0, 1e12, 1e12 + 0.001, 1e15,
        // Numbers that are not whole thousandths.
        0.1 + 0.2, 1.0 / 3.0, -1.5, -1765180000.123, 5e-324, 1e-7,
        std::numeric_limits<double>::max()};
    std::mt19937_64 random(20261208);
    // Millisecond times from 1970 to 2200, and whole thousandths of every magnitude.
    std::uniform_int_distribution<std::int64_t> times(0, 7'258'118'400'000);
    std::uniform_int_distribution<std::int64_t> thousandths(0, 999'999'999'999'999);
    for (int draw = 0; draw < 20000; ++draw) {
        numbers.push_back(static_cast<double>(times(random)) / 1000);
        numbers.push_back(static_cast<double>(thousandths(random) >> (draw % 50)) / 1000);
        if (const double any = std::bit_cast<double>(random()); std::isfinite(any)) {
            numbers.push_back(any);
        }
    }
    // Every power of two, where the next double down is nearer than the next one up, and every
    // power of ten.
    for (int power = -1074; power <= 1023; ++power) {
        numbers.push_back(std::ldexp(1.0, power));
    }
    for (int power = -323; power <= 308; ++power) {
        numbers.push_back(std::pow(10.0, power));
    }
    // Whole numbers past 2^53 up to where the scientific form takes over, written exactly in
    // fixed form, and short decimals of every size around that change of form.
    std::uniform_int_distribution<std::int64_t> significands(1, (std::int64_t{1} << 53) - 1);
    std::uniform_int_distribution<int> digits(1, 999);
    for (int power = 0; power <= 74; ++power) {
        for (int draw = 0; draw < 50; ++draw) {
            numbers.push_back(std::ldexp(static_cast<double>(significands(random)), power));
        }
    }
    for (int power = -30; power <= 30; ++power) {
        for (int draw = 0; draw < 20; ++draw) {
            numbers.push_back(digits(random) * std::pow(10.0, power));
        }
    }
    for (std::size_t index = 0, count = numbers.size(); index < count; ++index) {
        numbers.push_back(std::nextafter(numbers[index], 0.0));
        numbers.push_back(std::nextafter(numbers[index], 2e12));
    }
    for (const double number : numbers) {
        const auto written = JsonWriter::write(boost::json::value(number));
        ASSERT_TRUE(written.has_value());
        ASSERT_EQ(*written, reference(number)) << std::hexfloat << number;
    }
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
