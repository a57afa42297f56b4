// Whatever a page suggests, the clip file name obeys the name rules, and truncation never
// splits a character or passes its byte budget.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bridge_core/file_names.h"
#include "support/fuzz_checks.h"

using quenra::FuzzChecks::require;
using quenra::FuzzChecks::requireSafeName;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view suggested(reinterpret_cast<const char*>(data), size);
    const std::string name = quenra::FileNames::safeName(suggested);
    requireSafeName(name);
    // A name the host made must survive being suggested again.
    requireSafeName(quenra::FileNames::safeName(name));

    if (size > 0) {
        const std::size_t budget = data[0] % 32;
        const std::string cut = quenra::FileNames::truncated(suggested.substr(1), budget);
        require(cut.size() <= budget, "truncated within its budget");
        const std::string whole = quenra::FileNames::truncated(suggested.substr(1), SIZE_MAX);
        require(whole.compare(0, cut.size(), cut) == 0, "a shorter budget gives a prefix");
    }
    return 0;
}
