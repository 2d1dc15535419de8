// Bounded text output into a caller's buffer: whatever does not fit is cut, the buffer
// always stays terminated, and the count never exceeds the space there was.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace expressions {

class TextSink {
  public:
    TextSink(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {
        if (size_ > 0) buffer_[0] = '\0';
    }
    void put(const char* text) { put(text, std::strlen(text)); }
    void put(const char* text, std::size_t n) {
        if (size_ == 0) return;
        std::size_t room = size_ - 1 - length_;
        if (n > room) n = room;
        std::memcpy(buffer_ + length_, text, n);
        length_ += n;
        buffer_[length_] = '\0';
    }
    void put(char c) { put(&c, 1); }
    void number(int value) {
        char digits[16];
        int n = std::snprintf(digits, sizeof digits, "%i", value);
        put(digits, static_cast<std::size_t>(n));
    }
    bool full() const { return size_ == 0 || length_ + 1 >= size_; }
    int length() const { return static_cast<int>(length_); }
    // Where the next text goes, and how much room it has (terminator included).
    char* end() { return buffer_ + length_; }
    std::size_t room() const { return size_ == 0 ? 0 : size_ - length_; }
    void advance(int n) { length_ += static_cast<std::size_t>(n); }

  private:
    char* buffer_;
    std::size_t size_;
    std::size_t length_ = 0;
};

}  // namespace expressions
