// The byte queue in front of a frame-based coder: PCM arrives in pieces of any size and leaves in
// whole chunks of the size the coder takes, the rest waiting for the next piece.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "pipeline/fifo_buffer.h"

namespace tolvane {

class ChunkQueue {
public:
    // Called with each chunk's bytes; may throw (the queue stays consistent).
    using ChunkSink = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

    static constexpr std::size_t kCapacity = 131072;
    // The largest chunk a queue hands out.
    static constexpr std::size_t kMaxChunk = 4096;

    explicit ChunkQueue(std::size_t capacity = kCapacity) : fifo_(capacity) {}

    // The chunk size in bytes, 1 to kMaxChunk.
    void setChunkBytes(std::size_t bytes) { chunkBytes_ = bytes; }
    std::size_t chunkBytes() const { return chunkBytes_; }

    // Queues all `count` bytes and hands every whole chunk to `sink`. A piece larger than the
    // free space is queued in parts, emptying the queue in between, so no byte is refused.
    void push(const void* data, std::size_t count, const ChunkSink& sink);
    // Hands out what is left: whole chunks, then the last, shorter one. With `padToChunk` the
    // last one is completed with zero bytes to a whole chunk.
    void drain(const ChunkSink& sink, bool padToChunk);

    std::size_t size() const { return fifo_.size(); }

private:
    void emitWholeChunks(const ChunkSink& sink);

    FifoBuffer fifo_;
    std::size_t chunkBytes_ = kMaxChunk;
};

}  // namespace tolvane
