// Every finite number the writer is given comes out as std::to_chars writes it, whether it took
// the whole-thousandths way or the general one. Each 8 bytes of input are read twice: as a
// double, and as a count of thousandths (the form of stored times), with their neighbours.
// The whole input is also written as a string, and as an object's keys, in both styles that
// escape: read back, each is what was written, and the escaping style leaves no slash bare.
#include <boost/json/parse.hpp>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "bridge_core/json_writer.h"
#include "bridge_core/utf8.h"
#include "support/fuzz_checks.h"

using quenra::FuzzChecks::require;

namespace {

void check(double number) {
    if (!std::isfinite(number)) {
        return;
    }
    char buffer[64];
    const std::string reference(buffer, std::to_chars(buffer, buffer + sizeof buffer, number).ptr);
    const auto written = quenra::JsonWriter::write(boost::json::value(number));
    require(written.has_value(), "a finite number is written");
    require(*written == reference, "a number is written as std::to_chars writes it");
}

std::string written(std::string_view text, quenra::JsonWriter::Style style) {
    return quenra::JsonWriter::write(boost::json::value(text), style).value();
}

void checkText(std::string_view text) {
    const std::string whole(text);
    // Given out of order; written as whole, whole + "a", whole + "b".
    const boost::json::object object{{whole + "b", 1}, {whole, 2}, {whole + "a", 3}};
    for (const bool escapeSlashes : {false, true}) {
        const quenra::JsonWriter::Style style{.escapeSlashes = escapeSlashes};
        const std::string string = written(text, style);
        const std::string members = quenra::JsonWriter::write(object, style).value();
        require(members == quenra::JsonWriter::write(boost::json::value(object), style).value(),
                "an object is written alike as an object and as a value");
        require(members == "{" + string + ":2," + written(whole + "a", style) + ":3," +
                               written(whole + "b", style) + ":1}",
                "an object's keys are written in byte order");
        if (escapeSlashes) {
            for (std::size_t at = 0; at < string.size(); ++at) {
                require(string[at] != '/', "the escaping style leaves no slash bare");
                at += string[at] == '\\' ? 1 : 0;  // an escape's second character
            }
        }
        // Bytes that are not UTF-8 are written as they came, and only then is the text unreadable.
        if (!quenra::UTF8::isValid(text)) {
            continue;
        }
        boost::system::error_code invalid;
        const boost::json::value read = boost::json::parse(string, invalid);
        require(!invalid && read.is_string() && read.as_string() == text,
                "a string reads back as written");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkText(std::string_view(reinterpret_cast<const char*>(data), size));
    for (std::size_t offset = 0; offset + 8 <= size; offset += 8) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, data + offset, 8);
        double number = 0;
        std::memcpy(&number, &bits, 8);
        const double thousandths = static_cast<double>(bits % 1'000'000'000'000'000) / 1000;
        for (const double value : {number, thousandths}) {
            check(value);
            check(std::nextafter(value, 0.0));
            check(std::nextafter(value, 1e300));
        }
    }
    return 0;
}
