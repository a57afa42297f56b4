// A PREPARE's "midiBase64" as the request checks and the payload decoder need it, gathered in
// one pass while the text arrives, so that the text itself is never kept: its length, whether
// it keeps to the base64 alphabet, and, when it is canonical base64, the decoded clip and its
// SHA-256.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "bridge_core/base64.h"
#include "bridge_core/bytes.h"
#include "bridge_core/clip_buffer.h"
#include "bridge_core/hashing.h"

namespace quenra {

class Base64Payload {
  public:
    // Reads a text that arrives in pieces, cut anywhere: each piece is decoded into the clip
    // before the next one arrives, and hashed as well, or, once the clip is large, hashed on
    // a thread of its own that follows the decoding. A short text costs neither a large
    // buffer nor a thread, however many of them a frame holds.
    class Reader {
      public:
        // largestBytes is what the clip can come to (a bound, not a promise): once it passes
        // growAtOnce, room for that much is made at once, which costs address space only until
        // it is written, so a large clip is neither copied nor held twice while it grows, and
        // a short one never takes more than it needs. room, when given, is where the clip is
        // written (its bytes discarded): the buffer of a payload this one replaces, so that
        // room is made once however many replace each other. A reader made with hashes false
        // only decodes: a chunk of an upload is hashed by the upload, with the rest of its clip.
        explicit Reader(std::size_t largestBytes = 0, ClipBuffer room = {}, bool hashes = true);
        ~Reader();
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;

        void append(std::string_view piece);
        Base64Payload finish() &&;

        static constexpr std::size_t growAtOnce = std::size_t{64} << 10;
        // From here on the rest of a clip is hashed beside its decoding; below, the hash takes
        // about a millisecond and a thread buys nothing measurable.
        static constexpr std::size_t hashApartFrom = std::size_t{1} << 20;

      private:
        class Hasher;
        // Makes room for more decoded bytes. When that moves the clip, a hashing thread is
        // stopped first and the rest is hashed here.
        void makeRoom(std::size_t more);

        std::size_t largestBytes_;
        bool hashes_;
        Base64::Decoder decoder_;
        ClipBuffer bytes_;
        Sha256::Incremental digest_;
        // Last, so that it is stopped before the clip and the digest it works on go.
        std::unique_ptr<Hasher> hasher_;
    };

    // What the empty text reads as.
    Base64Payload();

    // In bytes of UTF-8, which is also its length in UTF-16 units whenever isBase64 holds.
    std::size_t length() const { return length_; }
    // Only base64 characters, with at most two "=" at the end; lengths are checked elsewhere.
    bool isBase64() const { return isBase64_; }
    // Canonical base64, as Base64::decode takes it.
    bool decodes() const { return decodes_; }
    // The decoded clip and its digest; empty and all zero unless it decodes, and the digest
    // all zero when its reader did not hash.
    ByteView bytes() const { return bytes_.bytes(); }
    const Sha256::Digest& sha256() const { return sha256_; }
    // Hands the decoded clip over and keeps none of it. Unless it decodes, that is the buffer
    // it was written into, empty, which a Reader can write into again.
    ClipBuffer takeBytes();

    bool operator==(const Base64Payload&) const = default;

  private:
    Base64Payload(std::size_t length, bool isBase64, bool decodes, ClipBuffer bytes,
                  const Sha256::Digest& sha256);

    std::size_t length_ = 0;
    bool isBase64_ = true;
    bool decodes_ = true;
    ClipBuffer bytes_;
    Sha256::Digest sha256_{};
};

}  // namespace quenra
