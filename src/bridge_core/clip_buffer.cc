#include "bridge_core/clip_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/fresh_memory.h"

namespace quenra {

ClipBuffer::~ClipBuffer() {
    release();
}

ClipBuffer::ClipBuffer(ClipBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ClipBuffer& ClipBuffer::operator=(ClipBuffer&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
}

ClipBuffer::ClipBuffer(const ClipBuffer& other) {
    reserve(other.size_);
    if (other.size_ > 0) {
        std::memcpy(data_, other.data_, other.size_);
    }
    size_ = other.size_;
}

ClipBuffer& ClipBuffer::operator=(const ClipBuffer& other) {
    if (this != &other) {
        *this = ClipBuffer(other);
    }
    return *this;
}

void ClipBuffer::reserve(std::size_t capacity) {
    if (capacity <= capacity_) {
        return;
    }
    ClipBuffer larger;
    if (capacity >= freshFrom) {
        larger.data_ = static_cast<std::uint8_t*>(FreshMemory::obtain(capacity));
        if (larger.data_ == nullptr) {
            throw std::bad_alloc();
        }
    } else {
        // Default-initialised: the bytes stay as the heap gives them until written.
        larger.data_ = new std::uint8_t[capacity];
    }
    larger.capacity_ = capacity;
    if (size_ > 0) {
        std::memcpy(larger.data_, data_, size_);
    }
    larger.size_ = size_;
    *this = std::move(larger);
}

bool ClipBuffer::operator==(const ClipBuffer& other) const {
    return std::ranges::equal(bytes(), other.bytes());
}

void ClipBuffer::release() {
    if (data_ == nullptr) {
        return;
    }
    if (capacity_ >= freshFrom) {
        FreshMemory::giveBack(data_, capacity_);
    } else {
        delete[] data_;
    }
    data_ = nullptr;
}

}  // namespace quenra
