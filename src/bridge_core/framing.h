// Native messaging frames: a 4-byte little-endian length, then that many bytes of JSON.
// FrameDecoder turns arbitrary chunks of the input stream into the bodies of frames, handed on
// as they arrive, and the other items; FrameEncoder puts the length in front of an outgoing
// message. Neither looks inside the JSON.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "bridge_core/bytes.h"
#include "bridge_core/limits.h"

namespace quenra {

class FrameDecoder {
  public:
    // What a stream holds besides the frames it accepts.
    struct Item {
        enum class Kind { tooLarge, corrupt, empty };

        Kind kind = Kind::empty;
        std::int64_t length = 0;  // tooLarge, corrupt: the announced length

        static Item tooLarge(std::int64_t length) { return {Kind::tooLarge, length}; }
        static Item corrupt(std::int64_t length) { return {Kind::corrupt, length}; }
        static Item empty() { return {}; }

        bool operator==(const Item&) const = default;
    };

    // Takes the stream as it is decoded: the body of each accepted frame in pieces, as its
    // bytes arrive, so that no body need be held whole; every other item when it completes.
    class Consumer {
      public:
        virtual ~Consumer() = default;
        // A frame of length bytes (1 to maxFrameBytes) begins; its bytes follow, in order.
        virtual void frameBegins(std::int64_t length) = 0;
        virtual void frameBytes(std::span<const std::uint8_t> bytes) = 0;
        // Its last byte has arrived.
        virtual void frameEnds() = 0;
        virtual void item(Item item) = 0;
    };

    explicit FrameDecoder(const Limits& limits = Limits::standard());

    // Consumes the whole chunk, handing the consumer what it decodes, in stream order. Holds
    // nothing of a body and allocates nothing.
    void append(std::span<const std::uint8_t> chunk, Consumer& consumer);

    // True while the stream stands inside a frame: header or body bytes collected, or bytes of
    // a refused body still to be skipped. A complete header with no body byte yet is not.
    bool isMidFrame() const;

    std::int64_t maxFrameBytes;
    std::int64_t corruptAbove;

  private:
    // The header bytes collected so far.
    std::array<std::uint8_t, 4> header_{};
    std::size_t headerBytes_ = 0;
    std::optional<std::int64_t> expected_;
    // Body bytes of the expected frame that have arrived.
    std::int64_t received_ = 0;
    std::int64_t skipping_ = 0;
    bool broken_ = false;
};

namespace FrameEncoder {

// The payload's length as 4 little-endian bytes, then the payload. The payload must be
// shorter than 2^32 bytes; every caller bounds it far below that.
ByteBuffer frame(std::span<const std::uint8_t> payload);
ByteBuffer frame(std::string_view payload);

}  // namespace FrameEncoder

}  // namespace quenra
