#include "bridge_core/protocol.h"

namespace quenra {

namespace {

constexpr std::array<std::string_view, 15> wireTexts{
    "BAD_REQUEST",
    "UNSUPPORTED_VERSION",
    "NOT_READY",
    "TOO_LARGE",
    "LENGTH_MISMATCH",
    "HASH_MISMATCH",
    "NOT_MIDI",
    "UNKNOWN_PREPARED",
    "STALE",
    "BUSY",
    "CACHE_FULL",
    "RATE_LIMITED",
    "DUPLICATE_REQUEST",
    "INTERNAL",
    "NOT_AUDIO",
};

}  // namespace

std::string_view ErrorCodes::wireText(ErrorCode code) {
    return wireTexts.at(static_cast<std::size_t>(code));
}

}  // namespace quenra
