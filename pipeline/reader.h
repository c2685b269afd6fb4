// Every audio source is read through CReader: a decoded stream of interleaved PCM with its
// format, read in pieces, positioned and measured in whole seconds. The readers and the table
// that chooses one by the file's name are in decoders/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tolvane {

class CReader {
public:
    CReader() = default;
    CReader(const CReader&) = delete;
    CReader& operator=(const CReader&) = delete;
    virtual ~CReader() = default;

    // Fills `buffer` with up to `count` bytes of interleaved PCM, whole sample frames; stores the
    // count in `delivered` when given. 0 means the end of the stream. Never negative.
    virtual std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) = 0;
    // The next read starts at this whole second.
    virtual void seek(int second) = 0;
    // Current position in whole seconds (truncated).
    virtual int tell() = 0;
    // Duration in whole seconds (truncated).
    virtual int length() = 0;
    // True when the source stores its PCM as it is delivered (a WAV file): reading it a second
    // time costs less than keeping a copy of what was read. A decoding reader answers false.
    virtual bool cheapToReadAgain() const { return false; }

    // Format of the decoded stream; -1 until the constructor has read the source.
    std::int32_t totalBytes() const { return totalBytes_; }
    std::int32_t sampleRate() const { return sampleRate_; }
    std::int32_t channels() const { return channels_; }
    // 8 (unsigned, 128 is silence) or 16 (signed little-endian).
    std::int32_t bitsPerSample() const { return bitsPerSample_; }

protected:
    // For a stage that passes another reader's stream on: takes that reader's format as its own.
    void takeFormatOf(const CReader& inner) {
        totalBytes_ = inner.totalBytes();
        sampleRate_ = inner.sampleRate();
        channels_ = inner.channels();
        bitsPerSample_ = inner.bitsPerSample();
    }

    std::int32_t totalBytes_ = -1;
    std::int32_t sampleRate_ = -1;
    std::int32_t channels_ = -1;
    std::int32_t bitsPerSample_ = -1;
};

// The calling thread's one-shot start position. Every reader constructor calls this once after it
// has read the source's format: it returns true (and clears the slot) when a start second was
// set by openReaderAt on this thread, and the reader then positions itself there as seek would.
bool takeStartPosition(int& second);

// Sets the start position for the reader constructed on this thread while it lives, and clears
// it again when it ends, whether or not a reader took it. Readers opened at the same time on
// other threads do not see it.
class StartPositionGuard {
public:
    explicit StartPositionGuard(int second);
    ~StartPositionGuard();
    StartPositionGuard(const StartPositionGuard&) = delete;
    StartPositionGuard& operator=(const StartPositionGuard&) = delete;
};

// True when `path` ends with `ext` without regard to ASCII case.
bool hasExtension(std::string_view path, std::string_view ext);

}  // namespace tolvane
