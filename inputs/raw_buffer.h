// A buffer whose bytes are not set when it is made, for the readers' input buffers: a
// small file read into a 1 MB buffer then touches the pages its bytes go to, not the
// whole buffer (zeroing the buffers of the formula's and the trace's readers was a fifth
// of a small trace's run).
#pragma once

#include <cstddef>
#include <memory>

namespace inputs {

template <typename T>
class RawBuffer {
  public:
    RawBuffer() = default;
    explicit RawBuffer(std::size_t n) { allocate(n); }
    // n elements of unspecified value, in place of the ones before.
    void allocate(std::size_t n) {
        data_ = std::make_unique_for_overwrite<T[]>(n);
        size_ = n;
    }
    void release() {
        data_.reset();
        size_ = 0;
    }
    T* data() { return data_.get(); }
    const T* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

  private:
    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
};

}  // namespace inputs
