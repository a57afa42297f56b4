#include "bridge_core/framing.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "bridge_core/limits.h"

namespace quenra {

FrameDecoder::FrameDecoder(const Limits& limits)
    : maxFrameBytes(limits.maxRequestFrameBytes), corruptAbove(limits.corruptFrameBytes) {}

void FrameDecoder::append(std::span<const std::uint8_t> chunk, Consumer& consumer) {
    if (broken_) {
        return;
    }
    const std::uint8_t* cursor = chunk.data();
    const std::uint8_t* const end = cursor + chunk.size();
    while (cursor < end) {
        const auto left = static_cast<std::int64_t>(end - cursor);
        if (skipping_ > 0) {
            const std::int64_t count = std::min(left, skipping_);
            skipping_ -= count;
            cursor += count;
        } else if (!expected_) {
            const auto count = static_cast<std::size_t>(
                std::min(left, static_cast<std::int64_t>(header_.size() - headerBytes_)));
            std::copy(cursor, cursor + count, header_.begin() + headerBytes_);
            headerBytes_ += count;
            cursor += count;
            if (headerBytes_ < header_.size()) {
                continue;
            }
            const std::int64_t length = std::int64_t{header_[0]} | (std::int64_t{header_[1]} << 8) |
                                        (std::int64_t{header_[2]} << 16) |
                                        (std::int64_t{header_[3]} << 24);
            headerBytes_ = 0;
            if (length == 0) {
                consumer.item(Item::empty());
            } else if (length > corruptAbove) {
                // No resynchronisation: whatever follows a corrupt length is not trusted.
                broken_ = true;
                consumer.item(Item::corrupt(length));
                return;
            } else if (length > maxFrameBytes) {
                skipping_ = length;
                consumer.item(Item::tooLarge(length));
            } else {
                expected_ = length;
                received_ = 0;
                consumer.frameBegins(length);
            }
        } else {
            const std::int64_t count = std::min(left, *expected_ - received_);
            received_ += count;
            cursor += count;
            consumer.frameBytes(std::span(cursor - count, static_cast<std::size_t>(count)));
            if (received_ == *expected_) {
                expected_.reset();
                received_ = 0;
                consumer.frameEnds();
            }
        }
    }
}

bool FrameDecoder::isMidFrame() const {
    return headerBytes_ > 0 || received_ > 0 || skipping_ > 0;
}

ByteBuffer FrameEncoder::frame(std::span<const std::uint8_t> payload) {
    if (payload.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("frame payload longer than a 32-bit length");
    }
    const auto length = static_cast<std::uint32_t>(payload.size());
    ByteBuffer framed;
    framed.reserve(payload.size() + 4);
    framed.push_back(static_cast<std::uint8_t>(length));
    framed.push_back(static_cast<std::uint8_t>(length >> 8));
    framed.push_back(static_cast<std::uint8_t>(length >> 16));
    framed.push_back(static_cast<std::uint8_t>(length >> 24));
    framed.insert(framed.end(), payload.begin(), payload.end());
    return framed;
}

ByteBuffer FrameEncoder::frame(std::string_view payload) {
    return frame(std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
}

}  // namespace quenra
