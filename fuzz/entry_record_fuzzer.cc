// Whatever sits in an "entry.json", reading it never fails other than by refusing it, and a
// record that was read writes back to bytes that read as the same record, byte-stable.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "bridge_core/entry_record.h"
#include "support/fuzz_checks.h"

using quenra::EntryRecord;
using quenra::FuzzChecks::require;

namespace {

// The JSON reader rounds some long decimals one unit in the last place off (it is not
// correctly rounded), so a time may come back that close; every other field must be exact.
bool nearlyEqual(double left, double right) {
    return left == right || std::nextafter(left, right) == right ||
           std::nextafter(std::nextafter(left, right), right) == right;
}

bool sameRecord(const EntryRecord& left, const EntryRecord& right) {
    EntryRecord times = right;
    times.createdAt = left.createdAt;
    times.touchedAt = left.touchedAt;
    times.retainUntil = left.retainUntil;
    return times == left && nearlyEqual(left.createdAt, right.createdAt) &&
           nearlyEqual(left.touchedAt, right.touchedAt) &&
           left.retainUntil.has_value() == right.retainUntil.has_value() &&
           (!left.retainUntil || nearlyEqual(*left.retainUntil, *right.retainUntil));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<EntryRecord> record = EntryRecord::decode(std::span(data, size));
    if (!record) {
        return 0;
    }
    require(std::isfinite(record->createdAt) && std::isfinite(record->touchedAt) &&
                (!record->retainUntil || std::isfinite(*record->retainUntil)),
            "a record that was read holds only finite times");
    const std::optional<std::string> encoded = record->encode();
    require(encoded.has_value(), "a record that was read can be written");
    const std::optional<EntryRecord> again = EntryRecord::decode(*encoded);
    require(again.has_value() && sameRecord(*again, *record), "written record reads back the same");
    // A record read back is written again without trouble.
    const std::optional<std::string> second = again->encode();
    require(second.has_value() && EntryRecord::decode(*second).has_value(),
            "rewritten record reads");
    require(
        (encoded->find("\"retainUntil\":") != std::string::npos) == record->retainUntil.has_value(),
        "retainUntil written exactly when there is one");
    return 0;
}
