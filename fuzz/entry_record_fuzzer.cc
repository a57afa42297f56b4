// Whatever sits in an "entry.json", reading it never fails other than by refusing it, and a
// record that was read writes back to bytes that read as the same record, byte-stable.
#include <cstddef>
#include <cstdint>
#include <span>

#include "bridge_core/entry_record.h"
#include "support/fuzz_checks.h"

using quenra::EntryRecord;
using quenra::FuzzChecks::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<EntryRecord> record = EntryRecord::decode(std::span(data, size));
    if (!record) {
        return 0;
    }
    const std::optional<std::string> encoded = record->encode();
    require(encoded.has_value(), "a record that was read can be written");
    const std::optional<EntryRecord> again = EntryRecord::decode(*encoded);
    require(again.has_value() && *again == *record, "written record reads back the same");
    // -0 may come back as 0 (equal as a time), so stability is asked of the second writing.
    const std::optional<std::string> second = again->encode();
    require(second && EntryRecord::decode(*second)->encode() == second, "writing is stable");
    require(
        (encoded->find("\"retainUntil\":") != std::string::npos) == record->retainUntil.has_value(),
        "retainUntil written exactly when there is one");
    return 0;
}
