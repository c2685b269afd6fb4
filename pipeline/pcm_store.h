// Decoded PCM kept between the level analysis and the conversion of one source, so that a
// compressed source is decoded once instead of twice. It is held in memory up to a bound; past
// the bound it moves to a file in the temporary folder that has no name from the start (or loses
// it at once where the file system cannot make nameless files), so that nothing is left behind on
// any path, whether the run ends normally, fails, is cancelled or the process is killed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvane {

class PcmStore {
public:
    // Enough for a song of four and a half minutes of 44.1 kHz stereo 16-bit audio to stay in
    // memory, while a longer source still converts within 100 MiB.
    static constexpr std::size_t kDefaultMemoryLimit = std::size_t(48) << 20;

    // Keeps up to `memoryLimit` bytes in memory; beyond that, spills to a file in `spillFolder`
    // (with a trailing "/" or without). An empty folder means no spilling: the store then takes
    // nothing beyond the bound.
    PcmStore(std::size_t memoryLimit, std::string spillFolder);
    ~PcmStore();
    PcmStore(const PcmStore&) = delete;
    PcmStore& operator=(const PcmStore&) = delete;

    // Appends `size` bytes. False when they cannot be kept (no spill file could be made, or
    // writing it failed); the store then stays failed and keeps nothing more.
    bool append(const void* data, std::size_t size);
    // Copies up to `size` bytes starting at `offset` into `buffer`; the number copied (fewer only
    // at the end of what is kept). Throws ReaderException "read error" when the spill file cannot
    // be read back.
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t size) const;

    std::uint64_t size() const { return size_; }
    bool failed() const { return failed_; }
    // True once the bytes live in the spill file.
    bool spilled() const { return fd_ >= 0; }

private:
    // One transparent huge page: a chunk costs the kernel one page fault instead of 512.
    static constexpr std::size_t kChunkBytes = std::size_t(2) << 20;
    struct ChunkFree {
        void operator()(std::uint8_t* chunk) const;
    };
    using Chunk = std::unique_ptr<std::uint8_t[], ChunkFree>;
    static Chunk newChunk();

    bool spill();
    bool writeChunk(const std::uint8_t* data, std::size_t size);
    std::size_t readMemory(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;

    std::size_t memoryLimit_;
    std::string spillFolder_;
    // In memory: the bytes in chunks of kChunkBytes, the last one partly filled. Spilled: the
    // file holds [0, fileBytes_) and the single chunk left holds the bytes after them.
    std::vector<Chunk> chunks_;
    std::uint64_t size_ = 0;
    std::uint64_t fileBytes_ = 0;
    int fd_ = -1;
    bool failed_ = false;
};

}  // namespace tolvane
