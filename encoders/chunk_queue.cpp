#include "encoders/chunk_queue.h"

#include <algorithm>
#include <array>

namespace tolvane {

void ChunkQueue::push(const void* data, std::size_t count, const ChunkSink& sink) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (count > 0) {
        // After emitWholeChunks fewer than one chunk stays queued, so there is always room.
        const std::size_t piece = std::min(count, fifo_.freeSpace());
        fifo_.write(bytes, piece);
        bytes += piece;
        count -= piece;
        emitWholeChunks(sink);
    }
}

void ChunkQueue::emitWholeChunks(const ChunkSink& sink) {
    std::array<std::uint8_t, kMaxChunk> chunk;
    while (fifo_.size() >= chunkBytes_) {
        fifo_.read(chunk.data(), chunkBytes_);
        sink(chunk.data(), chunkBytes_);
    }
}

void ChunkQueue::drain(const ChunkSink& sink, bool padToChunk) {
    emitWholeChunks(sink);
    if (fifo_.empty())
        return;
    std::array<std::uint8_t, kMaxChunk> chunk{};
    const std::size_t taken = fifo_.read(chunk.data(), chunkBytes_);
    sink(chunk.data(), padToChunk ? chunkBytes_ : taken);
}

}  // namespace tolvane
