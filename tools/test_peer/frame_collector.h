// Frames decoded whole, for those that look at a stream's frames as byte buffers (the test
// peer, tests, benchmarks and fuzzers), where the host reads each one as it arrives: a
// FrameDecoder fed through a consumer that gathers each body, handing back what every chunk
// completes.
#pragma once

#include <span>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "bridge_core/framing.h"

namespace quenra::TestPeer {

// One element of a decoded stream: a whole frame's body, or an item that is not a frame.
using Decoded = std::variant<ByteBuffer, FrameDecoder::Item>;

class FrameCollector {
  public:
    explicit FrameCollector(const Limits& limits = Limits::standard()) : decoder_(limits) {}

    // Consumes the whole chunk; what it completes, in stream order.
    std::vector<Decoded> append(std::span<const std::uint8_t> chunk) {
        decoder_.append(chunk, gathering_);
        return std::exchange(gathering_.decoded, {});
    }
    std::vector<Decoded> append(std::string_view chunk) {
        return append(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()));
    }

    const FrameDecoder& decoder() const { return decoder_; }

  private:
    struct Gathering final : FrameDecoder::Consumer {
        void frameBegins(std::int64_t length) override {
            body.reserve(static_cast<std::size_t>(length));
        }
        void frameBytes(std::span<const std::uint8_t> bytes) override {
            body.insert(body.end(), bytes.begin(), bytes.end());
        }
        void frameEnds() override { decoded.emplace_back(std::exchange(body, {})); }
        void item(FrameDecoder::Item item) override { decoded.emplace_back(item); }

        ByteBuffer body;
        std::vector<Decoded> decoded;
    };

    FrameDecoder decoder_;
    Gathering gathering_;
};

}  // namespace quenra::TestPeer
