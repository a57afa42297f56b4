// Every finite number the writer is given comes out as std::to_chars writes it, whether it took
// the whole-thousandths way or the general one. Each 8 bytes of input are read twice: as a
// double, and as a count of thousandths (the form of stored times), with their neighbours.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "bridge_core/json_writer.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
