// The memory a decoded clip is written into, once, from its start: never zero-filled (no byte
// is read before it is written), and, once large, taken fresh from the system and given back
// to it whole when the clip goes (FreshMemory), so that an idle host keeps none of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bridge_core/bytes.h"

namespace quenra {

class ClipBuffer {
  public:
    // From this many bytes on, the memory is fresh from the system; below, from the heap.
    static constexpr std::size_t freshFrom = std::size_t{1} << 20;

    ClipBuffer() = default;
    ~ClipBuffer();
    ClipBuffer(ClipBuffer&& other) noexcept;
    ClipBuffer& operator=(ClipBuffer&& other) noexcept;
    // A copy has room for the bytes in use only.
    ClipBuffer(const ClipBuffer& other);
    ClipBuffer& operator=(const ClipBuffer& other);

    // Makes room for capacity bytes in all, moving the bytes written so far when it must.
    // Throws std::bad_alloc when there is no memory for it, and then changes nothing.
    void reserve(std::size_t capacity);

    // No bytes in use any more; the room made stays, for bytes written anew.
    void clear() { size_ = 0; }

    // Where the next bytes go; wrote(count) adds the count written there to the bytes in use.
    std::uint8_t* end() { return data_ + size_; }
    void wrote(std::size_t count) { size_ += count; }

    ByteView bytes() const { return {data_, size_}; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }

    // The same bytes in use, wherever they are.
    bool operator==(const ClipBuffer& other) const;

  private:
    void release();

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quenra
