// RIFF chunk reading and writing (the parts of RIFF-aware file I/O the pipeline needs).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tolvane {

struct RiffChunk {
    std::array<char, 4> id{};
    std::uint32_t size = 0;    // bytes of contents
    std::uint64_t offset = 0;  // file offset of the contents
    bool is(const char* fourcc) const;
};

// Walks the sub-chunks of a file's top-level RIFF chunk of a given form type.
class RiffReader {
public:
    // Takes a file open for reading (not owned). Returns false when the file does not start
    // with a RIFF chunk of `formType`.
    bool open(std::FILE* file, const char* formType);
    // The next sub-chunk, or nothing at the end. `overrun` is set when a chunk's contents end
    // beyond the RIFF chunk's contents (the walk stops there).
    std::optional<RiffChunk> next(bool& overrun);

private:
    std::FILE* file_ = nullptr;
    std::uint64_t riffEnd_ = 0;
    std::uint64_t cursor_ = 0;
};

// Writes a RIFF file: nested chunks whose sizes are patched when they are closed.
class RiffWriter {
public:
    RiffWriter() = default;
    RiffWriter(const RiffWriter&) = delete;
    RiffWriter& operator=(const RiffWriter&) = delete;
    ~RiffWriter();

    // Creates (or replaces) the file, locked against other writers.
    bool create(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }
    // Opens a chunk; for "RIFF"/"LIST" the form type follows the size.
    bool beginChunk(const char* id, const char* formType = nullptr);
    // Closes the innermost open chunk: pads to an even size and writes its final size.
    bool endChunk();
    bool write(const void* data, std::size_t size);
    // Closes every open chunk, then the file. Returns false when anything failed.
    bool close();
    std::size_t openChunks() const { return stack_.size(); }

private:
    std::FILE* file_ = nullptr;
    std::vector<std::uint64_t> stack_;  // offsets of the size fields of open chunks
};

std::uint32_t readLe32(const std::uint8_t* p);
std::uint16_t readLe16(const std::uint8_t* p);

}  // namespace tolvane
