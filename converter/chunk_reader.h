// Walks the chunks of a RIFF (little-endian) or IFF (big-endian) container held in memory. Every
// read is bounded by the current chunk and the container, so malformed files cannot make it read
// outside the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kessin {

enum class ByteOrder { Little, Big };

class ChunkReader {
public:
    ChunkReader(const std::uint8_t* data, std::size_t length, ByteOrder order)
        : data_(data), length_(length), order_(order) {}

    // Reads chunk headers from the current position until one named `id` is found; it becomes
    // the current chunk with nothing consumed. Fails at the end of the container, on a length of
    // 2^31 or more, or when the found chunk would run past the end of the container.
    bool find(std::string_view id);
    // Makes the chunk starting at the current position current without searching: fails unless
    // its identifier is `id` (same bounds checks as find).
    bool expect(std::string_view id);

    // Reads inside the current chunk; false (nothing consumed) when the chunk has too few bytes.
    bool read(void* out, std::size_t count);
    bool readU16(std::uint16_t& value);
    bool readU32(std::uint32_t& value);
    bool skip(std::uint64_t count);
    // Leaves the current chunk: skips its unread data and the pad byte of an odd length.
    void leaveChunk();

    // The current chunk's data and how much of it remains unread.
    std::uint32_t chunkLength() const { return chunkLength_; }
    std::uint64_t remaining() const { return chunkLength_ - consumed_; }
    // Address of the next unread byte of the current chunk.
    const std::uint8_t* cursor() const { return data_ + chunkData_ + consumed_; }
    // A reader over the rest of the current chunk's data (e.g. the inside of "RIFF" or "FORM").
    ChunkReader inner() const { return ChunkReader(cursor(), remaining(), order_); }

    // Position bookkeeping for searches that restart from an earlier place.
    std::size_t position() const { return position_; }
    void seek(std::size_t position);

private:
    bool nextHeader(char id[4], std::uint32_t& length, std::size_t& start);
    bool enter(std::size_t start, std::uint32_t length);

    const std::uint8_t* data_;
    std::size_t length_;
    ByteOrder order_;
    std::size_t position_ = 0;   // next header position when no chunk is current
    std::size_t chunkData_ = 0;  // offset of the current chunk's data
    std::uint32_t chunkLength_ = 0;
    std::uint64_t consumed_ = 0;
    bool inChunk_ = false;
};

}  // namespace kessin
