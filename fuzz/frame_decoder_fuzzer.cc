// Any chunking of one input stream must give the same items, and end in the same mid-frame
// state, as the whole stream in one append; so must a consumer handed the bodies in pieces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "bridge_core/framing.h"
#include "bridge_core/limits.h"

using quenra::FrameDecoder;

namespace {

// Small limits reach the skip and corrupt paths with short inputs; one input in sixteen checks
// hostile 32-bit lengths against the standard corrupt boundary. The frame limit stays small
// even then: a body under it is reserved at its announced size, and a standard one of up to
// 24 MiB would cost milliseconds an input under the address sanitizer (the unit tests hold
// the standard limits' exact boundaries).
quenra::Limits limitsFor(std::uint8_t selector) {
    quenra::Limits limits = quenra::Limits::standard();
    if ((selector & 0x0F) != 0) {
        limits.maxRequestFrameBytes = 1 + (selector >> 1) % 64;
        limits.corruptFrameBytes = limits.maxRequestFrameBytes + (selector >> 4) * 16;
    } else {
        limits.maxRequestFrameBytes = 4096;
    }
    return limits;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Rebuilds the items from what a consumer is handed; a body out of its begin and end, or
// longer than announced, is a finding.
class Rebuilding final : public FrameDecoder::Consumer {
  public:
    void frameBegins(std::int64_t length) override {
        check(!open_ && length > 0);
        open_ = true;
        announced_ = length;
    }
    void frameBytes(std::span<const std::uint8_t> bytes) override {
        check(open_ && !bytes.empty());
        body_.insert(body_.end(), bytes.begin(), bytes.end());
        check(static_cast<std::int64_t>(body_.size()) <= announced_);
    }
    void frameEnds() override {
        check(open_ && static_cast<std::int64_t>(body_.size()) == announced_);
        items.push_back(FrameDecoder::Item::frame(std::move(body_)));
        body_.clear();
        open_ = false;
    }
    void item(FrameDecoder::Item item) override {
        check(!open_);
        items.push_back(std::move(item));
    }

    std::vector<FrameDecoder::Item> items;

  private:
    bool open_ = false;
    std::int64_t announced_ = 0;
    std::vector<std::uint8_t> body_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const quenra::Limits limits = limitsFor(data[0]);
    std::uint32_t state = data[1] * 2654435761u + 1;
    const std::span<const std::uint8_t> stream(data + 2, size - 2);

    FrameDecoder whole(limits);
    const auto expected = whole.append(stream);
    for (const auto& item : expected) {
        if (item.kind == FrameDecoder::Item::Kind::frame) {
            check(!item.body.empty() &&
                  static_cast<std::int64_t>(item.body.size()) <= limits.maxRequestFrameBytes);
        }
    }

    FrameDecoder chunked(limits);
    FrameDecoder consumed(limits);
    Rebuilding consumer;
    std::vector<FrameDecoder::Item> items;
    std::size_t offset = 0;
    while (offset < stream.size()) {
        state = state * 1103515245u + 12345u;
        const std::size_t length = std::min<std::size_t>(stream.size() - offset, (state >> 16) % 9);
        auto more = chunked.append(stream.subspan(offset, length));
        items.insert(items.end(), std::make_move_iterator(more.begin()),
                     std::make_move_iterator(more.end()));
        consumed.append(stream.subspan(offset, length), consumer);
        offset += length;
    }
    check(items == expected);
    check(chunked.isMidFrame() == whole.isMidFrame());
    check(consumer.items == expected);
    check(consumed.isMidFrame() == whole.isMidFrame());

    if (stream.size() <= 4096) {
        FrameDecoder bytewise(limits);
        std::vector<FrameDecoder::Item> single;
        for (const std::uint8_t& byte : stream) {
            auto more = bytewise.append(std::span(&byte, 1));
            single.insert(single.end(), more.begin(), more.end());
        }
        check(single == expected);
        check(bytewise.isMidFrame() == whole.isMidFrame());
    }
    return 0;
}
