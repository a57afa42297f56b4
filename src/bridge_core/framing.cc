#include "bridge_core/framing.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "bridge_core/limits.h"

namespace quenra {

FrameDecoder::Item FrameDecoder::Item::frame(ByteBuffer body) {
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
    // Collects each body after the header in pending_.
    class Collector final : public Consumer {
      public:
        Collector(ByteBuffer& body, std::vector<Item>& items) : body_(body), items_(items) {}
        void frameBegins(std::int64_t length) override {
            // The body goes into a buffer of its full announced size, so 64 KiB reads never
            // regrow it.
            body_.reserve(static_cast<std::size_t>(length));
        }
        void frameBytes(std::span<const std::uint8_t> bytes) override {
            body_.insert(body_.end(), bytes.begin(), bytes.end());
        }
        void frameEnds() override {
            items_.push_back(Item::frame(std::move(body_)));
            body_ = ByteBuffer();
            body_.reserve(4);
        }
        void item(Item item) override { items_.push_back(std::move(item)); }

      private:
        ByteBuffer& body_;
        std::vector<Item>& items_;
    };
    std::vector<Item> items;
    Collector collector(pending_, items);
    append(chunk, collector);
    return items;
}

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
    return !pending_.empty() || received_ > 0 || skipping_ > 0;
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
