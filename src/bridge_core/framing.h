// Native messaging frames: a 4-byte little-endian length, then that many bytes of JSON.
// FrameDecoder turns arbitrary chunks of the input stream into items; FrameEncoder puts the
// length in front of an outgoing message. Neither looks inside the JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "bridge_core/limits.h"

namespace quenra {

using Bytes = std::vector<std::uint8_t>;

class FrameDecoder {
  public:
    struct Item {
        enum class Kind { frame, tooLarge, corrupt, empty };

        Kind kind = Kind::empty;
        Bytes body;               // frame: the complete body (1 to maxFrameBytes bytes)
        std::int64_t length = 0;  // tooLarge, corrupt: the announced length

        static Item frame(Bytes body);
        static Item tooLarge(std::int64_t length);
        static Item corrupt(std::int64_t length);
        static Item empty();

        bool operator==(const Item&) const = default;
    };

    explicit FrameDecoder(const Limits& limits = Limits::standard());

    // Consumes the whole chunk and returns the items it completes, in stream order.
    std::vector<Item> append(std::span<const std::uint8_t> chunk);
    std::vector<Item> append(std::string_view chunk);

    // True while the stream stands inside a frame: header or body bytes collected, or bytes of
    // a refused body still to be skipped. A complete header with no body byte yet is not.
    bool isMidFrame() const;

    std::int64_t maxFrameBytes;
    std::int64_t corruptAbove;

  private:
    Bytes pending_;
    std::optional<std::int64_t> expected_;
    std::int64_t skipping_ = 0;
    bool broken_ = false;
};

namespace FrameEncoder {

// The payload's length as 4 little-endian bytes, then the payload. The payload must be
// shorter than 2^32 bytes; every caller bounds it far below that.
Bytes frame(std::span<const std::uint8_t> payload);
Bytes frame(std::string_view payload);

}  // namespace FrameEncoder

}  // namespace quenra
