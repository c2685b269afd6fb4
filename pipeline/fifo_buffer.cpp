#include "pipeline/fifo_buffer.h"

#include <algorithm>
#include <cstring>

namespace tolvane {

FifoBuffer::FifoBuffer(std::size_t capacity) : storage_(capacity) {}

bool FifoBuffer::write(const void* data, std::size_t n) {
    if (n > freeSpace())
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const std::size_t first = std::min(n, storage_.size() - writePos_);
    std::memcpy(storage_.data() + writePos_, bytes, first);
    std::memcpy(storage_.data(), bytes + first, n - first);
    writePos_ = (writePos_ + n) % storage_.size();
    count_ += n;
    return true;
}

std::size_t FifoBuffer::read(void* out, std::size_t n) {
    n = std::min(n, count_);
    auto* bytes = static_cast<std::uint8_t*>(out);
    const std::size_t first = std::min(n, storage_.size() - readPos_);
    std::memcpy(bytes, storage_.data() + readPos_, first);
    std::memcpy(bytes + first, storage_.data(), n - first);
    if (n > 0)
        readPos_ = (readPos_ + n) % storage_.size();
    count_ -= n;
    return n;
}

}  // namespace tolvane
