#include "bridge_core/framing.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "bridge_core/limits.h"

namespace quenra {

FrameDecoder::Item FrameDecoder::Item::frame(Bytes body) {
    return Item{Kind::frame, std::move(body), 0};
}

FrameDecoder::Item FrameDecoder::Item::tooLarge(std::int64_t length) {
    return Item{Kind::tooLarge, {}, length};
}

FrameDecoder::Item FrameDecoder::Item::corrupt(std::int64_t length) {
    return Item{Kind::corrupt, {}, length};
}

FrameDecoder::Item FrameDecoder::Item::empty() {
    return Item{};
}

FrameDecoder::FrameDecoder(const Limits& limits)
    : maxFrameBytes(limits.maxRequestFrameBytes), corruptAbove(limits.corruptFrameBytes) {
    pending_.reserve(4);
}

std::vector<FrameDecoder::Item> FrameDecoder::append(std::string_view chunk) {
    return append(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()));
}

std::vector<FrameDecoder::Item> FrameDecoder::append(std::span<const std::uint8_t> chunk) {
    std::vector<Item> items;
    if (broken_) {
        return items;
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
            const std::int64_t count =
                std::min(left, static_cast<std::int64_t>(4 - pending_.size()));
            pending_.insert(pending_.end(), cursor, cursor + count);
            cursor += count;
            if (pending_.size() < 4) {
                continue;
            }
            const std::int64_t length =
                std::int64_t{pending_[0]} | (std::int64_t{pending_[1]} << 8) |
                (std::int64_t{pending_[2]} << 16) | (std::int64_t{pending_[3]} << 24);
            pending_.clear();
            if (length == 0) {
                items.push_back(Item::empty());
            } else if (length > corruptAbove) {
                // No resynchronisation: whatever follows a corrupt length is not trusted.
                broken_ = true;
                items.push_back(Item::corrupt(length));
                return items;
            } else if (length > maxFrameBytes) {
                items.push_back(Item::tooLarge(length));
                skipping_ = length;
            } else {
                expected_ = length;
                // The body goes into a buffer of its full announced size, so 64 KiB reads
                // never regrow it.
                pending_.reserve(static_cast<std::size_t>(length));
            }
        } else {
            const std::int64_t count =
                std::min(left, *expected_ - static_cast<std::int64_t>(pending_.size()));
            pending_.insert(pending_.end(), cursor, cursor + count);
            cursor += count;
            if (static_cast<std::int64_t>(pending_.size()) == *expected_) {
                items.push_back(Item::frame(std::move(pending_)));
                pending_ = Bytes();
                pending_.reserve(4);
                expected_.reset();
            }
        }
    }
    return items;
}

bool FrameDecoder::isMidFrame() const {
    return !pending_.empty() || skipping_ > 0;
}

Bytes FrameEncoder::frame(std::span<const std::uint8_t> payload) {
    if (payload.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("frame payload longer than a 32-bit length");
    }
    const auto length = static_cast<std::uint32_t>(payload.size());
    Bytes framed;
    framed.reserve(payload.size() + 4);
    framed.push_back(static_cast<std::uint8_t>(length));
    framed.push_back(static_cast<std::uint8_t>(length >> 8));
    framed.push_back(static_cast<std::uint8_t>(length >> 16));
    framed.push_back(static_cast<std::uint8_t>(length >> 24));
    framed.insert(framed.end(), payload.begin(), payload.end());
    return framed;
}

Bytes FrameEncoder::frame(std::string_view payload) {
    return frame(std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
}

}  // namespace quenra
