#pragma once
// A datagram's text as it is gathered: appends are an inline copy into
// room kept from earlier messages, and a swap moves three words, which is
// what a message costs on the forwarding road instead of a library call
// per append.

#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

class TextBuffer {
public:
    void append(const char* p, size_t n) {
        if (n > capacity_ - size_ || capacity_ == 0) grow(n);
        std::memcpy(data_.get() + size_, p, n);
        size_ += n;
    }
    void clear() { size_ = 0; }
    bool empty() const { return size_ == 0; }
    const char* data() const { return data_.get(); }
    size_t size() const { return size_; }
    void swap(TextBuffer& o) noexcept {
        data_.swap(o.data_);
        std::swap(size_, o.size_);
        std::swap(capacity_, o.capacity_);
    }

private:
    void grow(size_t n) {
        size_t capacity = capacity_ ? capacity_ * 2 : 256;
        while (capacity - size_ < n) capacity *= 2;
        std::unique_ptr<char[]> bigger(new char[capacity]);
        if (size_) std::memcpy(bigger.get(), data_.get(), size_);
        data_.swap(bigger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
