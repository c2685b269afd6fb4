#include "converter/chunk_reader.h"

#include <cstring>

namespace kessin {
namespace {

constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFF;

}  // namespace

bool ChunkReader::nextHeader(char id[4], std::uint32_t& length, std::size_t& start) {
    if (inChunk_)
        leaveChunk();
    start = position_;
    if (position_ > length_ || length_ - position_ < 8)
        return false;
    const std::uint8_t* p = data_ + position_;
    std::memcpy(id, p, 4);
    length = order_ == ByteOrder::Little
                 ? std::uint32_t(p[4]) | std::uint32_t(p[5]) << 8 | std::uint32_t(p[6]) << 16 |
                       std::uint32_t(p[7]) << 24
                 : std::uint32_t(p[7]) | std::uint32_t(p[6]) << 8 | std::uint32_t(p[5]) << 16 |
                       std::uint32_t(p[4]) << 24;
    return length <= kMaxChunkLength;
}

bool ChunkReader::enter(std::size_t start, std::uint32_t length) {
    // A chunk that would run past the end of its container is refused, not trimmed.
    if (std::uint64_t(length_) - 8 - start < length)
        return false;
    chunkData_ = start + 8;
    chunkLength_ = length;
    consumed_ = 0;
    inChunk_ = true;
    return true;
}

bool ChunkReader::find(std::string_view id) {
    char name[4];
    std::uint32_t length = 0;
    std::size_t start = 0;
    while (nextHeader(name, length, start)) {
        if (std::memcmp(name, id.data(), 4) == 0)
            return enter(start, length);
        position_ = start + 8 + std::size_t(length) + (length & 1);
    }
    return false;
}

bool ChunkReader::expect(std::string_view id) {
    char name[4];
    std::uint32_t length = 0;
    std::size_t start = 0;
    if (!nextHeader(name, length, start) || std::memcmp(name, id.data(), 4) != 0)
        return false;
    return enter(start, length);
}

bool ChunkReader::read(void* out, std::size_t count) {
    if (!inChunk_ || remaining() < count)
        return false;
    std::memcpy(out, cursor(), count);
    consumed_ += count;
    return true;
}

bool ChunkReader::readU16(std::uint16_t& value) {
    std::uint8_t b[2];
    if (!read(b, 2))
        return false;
    value = order_ == ByteOrder::Little ? std::uint16_t(b[0] | b[1] << 8)
                                        : std::uint16_t(b[1] | b[0] << 8);
    return true;
}

bool ChunkReader::readU32(std::uint32_t& value) {
    std::uint8_t b[4];
    if (!read(b, 4))
        return false;
    value = order_ == ByteOrder::Little ? std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                              std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24
                                        : std::uint32_t(b[3]) | std::uint32_t(b[2]) << 8 |
                                              std::uint32_t(b[1]) << 16 | std::uint32_t(b[0]) << 24;
    return true;
}

bool ChunkReader::skip(std::uint64_t count) {
    if (!inChunk_ || remaining() < count)
        return false;
    consumed_ += count;
    return true;
}

void ChunkReader::leaveChunk() {
    if (!inChunk_)
        return;
    position_ = chunkData_ + std::size_t(chunkLength_) + (chunkLength_ & 1);
    inChunk_ = false;
}

void ChunkReader::seek(std::size_t position) {
    inChunk_ = false;
    position_ = position;
}

}  // namespace kessin
