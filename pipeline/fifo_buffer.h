// A fixed-capacity byte ring that accepts a whole write or none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvane {

class FifoBuffer {
public:
    explicit FifoBuffer(std::size_t capacity);

    // Stores all `n` bytes (wrapping around) when at least `n` bytes are free; otherwise stores
    // nothing and returns false.
    bool write(const void* data, std::size_t n);
    // Takes up to `n` bytes in order; returns how many were taken.
    std::size_t read(void* out, std::size_t n);

    std::size_t size() const { return count_; }
    std::size_t capacity() const { return storage_.size(); }
    std::size_t freeSpace() const { return storage_.size() - count_; }
    bool empty() const { return count_ == 0; }

private:
    std::vector<std::uint8_t> storage_;
    std::size_t readPos_ = 0;
    std::size_t writePos_ = 0;
    std::size_t count_ = 0;
};

}  // namespace tolvane
