// The typed failure an operation throws, as a value to compare: nothing when it throws none.
#pragma once

#include <optional>

namespace quenra::testing {

template <typename Failure, typename Operation>
std::optional<Failure> failureOf(Operation operation) {
    try {
        operation();
    } catch (const Failure& failure) {
        return failure;
    }
    return std::nullopt;
}

}  // namespace quenra::testing
