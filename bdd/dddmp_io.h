// Buffered byte output and the escaped byte layer of the binary DDDMP node section.
#pragma once

#include <cstdio>
#include <cstring>
#include <string_view>

namespace dddmp::detail {

// Bytes that never appear raw in a binary node section, and their escape codes:
// 0x00 -> 00 00, 0x0A -> 00 01, 0x0D -> 00 02, 0x1A -> 00 03.
inline int escapeCode(unsigned char byte) {
    switch (byte) {
        case 0x00: return 0;
        case 0x0A: return 1;
        case 0x0D: return 2;
        case 0x1A: return 3;
        default: return -1;
    }
}
inline int unescape(int code) {
    static constexpr int kBytes[4] = {0x00, 0x0A, 0x0D, 0x1A};
    return code >= 0 && code < 4 ? kBytes[code] : -1;
}

// A write buffer in front of a stream; remembers whether any write failed.
class Out {
  public:
    explicit Out(std::FILE* fp) : fp_(fp) {}
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    ~Out() { flush(); }

    void put(char c) {
        if (used_ == sizeof buf_) flush();
        buf_[used_++] = c;
    }
    void put(std::string_view text) {
        if (text.size() > sizeof buf_ - used_) {
            flush();
            if (text.size() > sizeof buf_) {
                if (std::fwrite(text.data(), 1, text.size(), fp_) != text.size()) ok_ = false;
                written_ += text.size();
                return;
            }
        }
        std::memcpy(buf_ + used_, text.data(), text.size());
        used_ += text.size();
    }
    void num(long value) {
        char digits[24];
        int n = 0;
        unsigned long v = value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        if (used_ + 24 > sizeof buf_) flush();
        if (value < 0) buf_[used_++] = '-';
        while (n) buf_[used_++] = digits[--n];
    }
    // One byte of a binary node section, escaped.
    void escaped(unsigned char byte) {
        int code = escapeCode(byte);
        if (code < 0) {
            put(static_cast<char>(byte));
        } else {
            put('\0');
            put(static_cast<char>(code));
        }
    }
    // The binary integer code: the low 28 bits in 7-bit groups, most significant
    // non-zero group first, bit 0 set on every byte but the last.
    void binaryInt(int value) {
        unsigned v = static_cast<unsigned>(value) & 0x0FFFFFFFu;
        int top = 0;
        while (top < 3 && (v >> (7 * (top + 1)))) ++top;
        for (int g = top; g >= 0; --g) {
            unsigned group = (v >> (7 * g)) & 0x7Fu;
            escaped(static_cast<unsigned char>((group << 1) | (g > 0 ? 1u : 0u)));
        }
    }
    void flush() {
        if (used_ && std::fwrite(buf_, 1, used_, fp_) != used_) ok_ = false;
        written_ += used_;
        used_ = 0;
    }
    // Bytes handed over so far, buffered ones included.
    long written() const { return static_cast<long>(written_ + used_); }
    // Flushes this buffer and the stream's; true when every write succeeded.
    bool finish() {
        flush();
        if (std::fflush(fp_) != 0) ok_ = false;
        return ok_;
    }

  private:
    std::FILE* fp_;
    char buf_[1 << 16];
    std::size_t used_ = 0;
    std::size_t written_ = 0;
    bool ok_ = true;
};

}  // namespace dddmp::detail
