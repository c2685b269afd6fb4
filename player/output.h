// The preview player's sound output: it takes PCM one chunk at a time, and plays, pauses and
// stops with short fades.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "player/ds_stream.h"

namespace tolvane::sound {

class output {
public:
    virtual ~output() = default;

    // Keeps a copy of the chunk; it replaces a chunk not yet handed on.
    virtual void write(const void* data, std::size_t bytes, const ds_format& format) = 0;
    // 1 when the pending chunk has been handed on completely (the next one may be written),
    // 0 when not yet (try again later), -1 when the output failed.
    virtual int update() = 0;
    // Fades out and pauses (on), or resumes and fades in (off).
    virtual void pause(bool on) = 0;
    // Fades out and ends the stream; what is left of the chunk is dropped. The next stream
    // starts with a fade-in.
    virtual void stop() = 0;
    // The source has ended: what is buffered plays out, then the stream ends.
    virtual void finish() = 0;
    // Closes the streams of this output; the device goes when no output needs it.
    virtual void shutdown() = 0;
    // Bytes written to this output and not yet heard: the pending chunk's rest and what the
    // device stream holds ahead of its play cursor.
    virtual std::size_t buffered() const = 0;
};

// The chunk bookkeeping shared by outputs: the pending chunk and how much of it is handed on.
class output_i_base : public output {
public:
    void write(const void* data, std::size_t bytes, const ds_format& format) override;

    std::size_t buffered() const override { return chunkRestBytes(); }

protected:
    bool chunkDone() const { return handed_ >= chunk_.size(); }
    const std::uint8_t* chunkRest() const { return chunk_.data() + handed_; }
    std::size_t chunkRestBytes() const { return chunk_.size() - handed_; }
    void chunkHanded(std::size_t bytes) { handed_ += bytes; }
    void dropChunk() { handed_ = chunk_.size(); }
    const ds_format& chunkFormat() const { return chunkFormat_; }

private:
    std::vector<std::uint8_t> chunk_;
    std::size_t handed_ = 0;
    ds_format chunkFormat_;
};

}  // namespace tolvane::sound
