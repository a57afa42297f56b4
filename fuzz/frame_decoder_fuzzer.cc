// Any chunking of one input stream must hand a consumer the same frames and items, and end in
// the same mid-frame state, as the whole stream in one append; each body must arrive between
// its begin and its end, as long as announced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <variant>
#include <vector>

#include "bridge_core/framing.h"
#include "bridge_core/limits.h"

using quenra::ByteBuffer;
using quenra::FrameDecoder;

namespace {

// Small limits reach the skip and corrupt paths with short inputs; one input in sixteen checks
// hostile 32-bit lengths against the standard corrupt boundary. The frame limit stays small
// even then, so that frames complete within short inputs (the unit tests hold the standard
// limits' exact boundaries).
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

using Decoded = std::variant<ByteBuffer, FrameDecoder::Item>;

// Rebuilds the stream from what a consumer is handed; a body out of its begin and end, or
// longer than announced, is a finding.
class Rebuilding final : public FrameDecoder::Consumer {
  public:
    explicit Rebuilding(const quenra::Limits& limits) : limits_(limits) {}

    void frameBegins(std::int64_t length) override {
        check(!open_ && length > 0 && length <= limits_.maxRequestFrameBytes);
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
        decoded.emplace_back(std::move(body_));
        body_.clear();
        open_ = false;
    }
    void item(FrameDecoder::Item item) override {
        check(!open_);
        decoded.emplace_back(item);
    }

    std::vector<Decoded> decoded;

  private:
    const quenra::Limits& limits_;
    bool open_ = false;
    std::int64_t announced_ = 0;
    ByteBuffer body_;
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
    Rebuilding expected(limits);
    whole.append(stream, expected);

    FrameDecoder chunked(limits);
    Rebuilding pieces(limits);
    std::size_t offset = 0;
    while (offset < stream.size()) {
        state = state * 1103515245u + 12345u;
        const std::size_t length = std::min<std::size_t>(stream.size() - offset, (state >> 16) % 9);
        chunked.append(stream.subspan(offset, length), pieces);
        offset += length;
    }
    check(pieces.decoded == expected.decoded);
    check(chunked.isMidFrame() == whole.isMidFrame());

    if (stream.size() <= 4096) {
        FrameDecoder bytewise(limits);
        Rebuilding single(limits);
        for (const std::uint8_t& byte : stream) {
            bytewise.append(std::span(&byte, 1), single);
        }
        check(single.decoded == expected.decoded);
        check(bytewise.isMidFrame() == whole.isMidFrame());
    }
    return 0;
}
