#include "bridge_core/base64_payload.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace quenra {

// Hashes the clip on a thread of its own while the decoder goes on: the decoder publishes how
// far the clip is decoded, and the thread hashes up to there, then sleeps until more is
// published or the end is. The bytes below the published count are final and never move
// meanwhile, and the digest is the thread's alone until finish returns.
class Base64Payload::Reader::Hasher {
  public:
    // The thread takes over the digest with the clip's first from bytes hashed.
    Hasher(const std::uint8_t* clip, std::size_t from, Sha256::Incremental& digest)
        : progress_(from), thread_([this, clip, from, &digest] { run(clip, from, digest); }) {}
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    ~Hasher() {
        if (thread_.joinable()) {
            finish();
        }
    }

    void publish(std::size_t decoded) {
        progress_.store(decoded, std::memory_order_release);
        progress_.notify_one();
    }

    // Returns once everything published is hashed.
    void finish() {
        progress_.fetch_or(ended, std::memory_order_release);
        progress_.notify_one();
        thread_.join();
    }

  private:
    static constexpr std::uint64_t ended = std::uint64_t{1} << 63;

    // The thread's whole work: it allocates nothing and throws nothing (a failing hash library
    // stops the process), so nothing can escape it.
    void run(const std::uint8_t* clip, std::uint64_t hashed, Sha256::Incremental& digest) {
        for (;;) {
            const std::uint64_t seen = progress_.load(std::memory_order_acquire);
            const std::uint64_t decoded = seen & ~ended;
            if (decoded > hashed) {
                digest.update(std::span(clip + hashed, decoded - hashed));
                hashed = decoded;
            } else if ((seen & ended) != 0) {
                return;
            } else {
                progress_.wait(seen, std::memory_order_acquire);
            }
        }
    }

    std::atomic<std::uint64_t> progress_;
    // Last, so that the thread starts with everything above in place.
    std::thread thread_;
};

Base64Payload::Reader::Reader(std::size_t largestBytes, ClipBuffer room, bool hashes)
    : largestBytes_(largestBytes), hashes_(hashes), bytes_(std::move(room)) {
    bytes_.clear();
}

Base64Payload::Reader::~Reader() = default;

void Base64Payload::Reader::makeRoom(std::size_t more) {
    if (bytes_.capacity() - bytes_.size() >= more) {
        return;
    }
    if (hasher_) {
        hasher_->finish();
        hasher_.reset();
    }
    // Up to growAtOnce the clip grows as it needs, so a short text takes little; past it, room
    // for the most it can come to is made at once, the little decoded so far copied over. Past
    // that bound, it goes on growing geometrically.
    const std::size_t needed = bytes_.size() + more;
    std::size_t capacity = std::max(needed, bytes_.capacity() * 2);
    if (needed > growAtOnce) {
        capacity = std::max(capacity, largestBytes_);
    }
    bytes_.reserve(capacity);
}

void Base64Payload::Reader::append(std::string_view piece) {
    makeRoom(decoder_.mostBytesFor(piece.size()));
    const std::size_t before = bytes_.size();
    bytes_.wrote(decoder_.append(piece, bytes_.end()));
    if (hasher_) {
        hasher_->publish(bytes_.size());
        return;
    }
    if (!hashes_) {
        return;
    }
    // Hashed while the piece's bytes are still in the cache.
    digest_.update(bytes_.bytes().subspan(before));
    // A thread is worth it only for a clip this large that has room to go on growing in place.
    if (bytes_.size() >= hashApartFrom && bytes_.capacity() > bytes_.size()) {
        try {
            hasher_ = std::make_unique<Hasher>(bytes_.bytes().data(), bytes_.size(), digest_);
        } catch (const std::system_error&) {
            // No thread to be had: the clip goes on being hashed here.
        } catch (const std::bad_alloc&) {
            // Nor the memory to start one: the same.
        }
    }
}

Base64Payload Base64Payload::Reader::finish() && {
    const bool isBase64 = decoder_.keepsToAlphabet();
    // A padded last group adds up to two bytes.
    makeRoom(2);
    const std::size_t before = bytes_.size();
    const std::optional<std::size_t> last = decoder_.finish(bytes_.end());
    if (last) {
        bytes_.wrote(*last);
    }
    if (hasher_) {
        hasher_->publish(bytes_.size());
        hasher_->finish();
        hasher_.reset();
    } else if (hashes_) {
        digest_.update(bytes_.bytes().subspan(before));
    }
    if (!last) {
        bytes_.clear();
        return Base64Payload(decoder_.length(), isBase64, false, std::move(bytes_), {});
    }
    return Base64Payload(decoder_.length(), isBase64, true, std::move(bytes_),
                         hashes_ ? digest_.final() : Sha256::Digest{});
}

Base64Payload::Base64Payload() : Base64Payload(Reader().finish()) {}

Base64Payload::Base64Payload(std::size_t length, bool isBase64, bool decodes, ClipBuffer bytes,
                             const Sha256::Digest& sha256)
    : length_(length),
      isBase64_(isBase64),
      decodes_(decodes),
      bytes_(std::move(bytes)),
      sha256_(sha256) {}

ClipBuffer Base64Payload::takeBytes() {
    return std::exchange(bytes_, {});
}

}  // namespace quenra
